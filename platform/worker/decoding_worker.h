// platform/worker/ is the decoding workers: their main (worker_run.h), their
// limits and system-call filter (confinement.h), their side of the
// conversation (page_server.h for PDFs, image_server.h), the protocol and
// sealed pixels both sides share (worker_protocol.h, shared_pixels.h), the
// started process (worker_process.h) and this handle.
//
// The tool's handle on a decoding worker: a process of its own that opens the
// untrusted input and turns it into pixels under hard limits (see
// worker_limits.h), so that whatever a PDF or an image does to Poppler or a
// codec (a crash, a hang, gigabytes) costs the tool one failed page and
// nothing else. The worker is killed and reaped when the handle goes, on
// every path.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "document/result.h"
#include "platform/image/bitmap.h"
#include "platform/pdf/pdf_document.h"
#include "platform/worker/worker_process.h"

namespace brindlewox {

struct PageGeometry {
  PageBox mediaBox;
  int rotation = 0;  // 0, 90, 180 or 270
};

class DecodingWorker {
 public:
  // A worker holding the PDF at `path` open. Fails with unreadableInput when
  // it does not open (or the worker dies or runs out of time opening it), and
  // with a PlatformError when the worker cannot be started at all. `started`
  // is a PDF worker already started on `path`; without it one is started.
  static Result<DecodingWorker> openPDF(const std::string& path,
                                        std::optional<WorkerProcess> started = std::nullopt);

  // An image file's pixels, decoded by a worker of its own (`started`, an
  // image worker already started on `path`, or a new one); unreadableInput
  // for anything that does not decode in time and memory.
  static Result<Bitmap> decodeImage(const std::string& path,
                                    std::optional<WorkerProcess> started = std::nullopt);

  std::int64_t pageCount() const { return pageCount_; }

  // A page's media box and rotation; absent when there is no such page or
  // the worker failed. A failed worker is gone: every later call fails too.
  std::optional<PageGeometry> describePage(std::int64_t page,
                                           std::chrono::steady_clock::time_point deadline);

  // The page drawn as PDFDocument::render draws it; absent when the worker
  // could not draw it by `deadline`.
  std::optional<Bitmap> drawPage(std::int64_t page, double scale, int pixelWidth, int pixelHeight,
                                 std::chrono::steady_clock::time_point deadline);

  // The worker's process id, while it runs (for tests that end it).
  pid_t processId() const { return process_.id(); }

 private:
  explicit DecodingWorker(WorkerProcess process) : process_(std::move(process)) {}

  WorkerProcess process_;
  std::int64_t pageCount_ = 0;
};

}  // namespace brindlewox
