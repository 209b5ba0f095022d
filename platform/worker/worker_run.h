// The decoding workers: the processes that turn one untrusted input into
// pixels for brindlewox-ocr, which starts them (see decoding_worker.h).
// brindlewox-ocr-pdf-decoder draws a PDF's pages; brindlewox-ocr-image-decoder
// decodes an image. Two programs, so that a PDF's worker does not load the
// image codecs' libraries (some 130 of them, 0.1 s a start), nor an image's
// Poppler.
//
// usage: brindlewox-ocr-pdf-decoder pdf FILE, brindlewox-ocr-image-decoder
// image FILE, with the socket on descriptor 3. Each limits itself before it
// opens FILE and filters its own system calls before it reads a byte of it.
#pragma once

#include "platform/worker/worker_process.h"
#include "services/unique_fd.h"

namespace brindlewox::worker {

// How a worker ends when an allocation fails: its memory is spent.
inline constexpr int kOutOfMemoryStatus = 4;

// Answers the tool about the opened input on `socket`.
using Serve = void (*)(int socket, UniqueFd input);

// The worker's main: checks that it was asked for `kind`, sets its limits,
// opens the file, confines itself and serves it. Returns the exit status.
int runWorker(int argc, char** argv, WorkerKind kind, Serve serve);

}  // namespace brindlewox::worker
