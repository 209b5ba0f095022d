// app/ is the front end: the entry points (main.cc; the decoding worker's is
// platform/worker/worker_main.cc), option parsing and this driver. It links
// none of the heavy libraries and loads the engine only once an input is
// dispatched.
//
// The run driver turns one command line into either a JSON result document at
// OUTPUT (exit status 0) or one failure line on standard error (status 1). It
// owns the argument list, the document and its encoded bytes, and is the only
// place that prints a failure.
#pragma once

#include <cstdint>
#include <string>

#include "app/options.h"
#include "document/ocr_document.h"
#include "pipeline/open_output.h"

namespace brindlewox {

// The text after the last dot of the path's last component, lower-cased with
// full Unicode rules; empty when there is none.
std::string extensionKey(const std::string& path);

// INPUT to document: dispatch on the extension key and convert, calling
// `openOutput` once the input is open. Refuses an OUTPUT that is the input
// file itself.
Result<OCRDocument> convertInput(const Options& options, const OpenOutput& openOutput);

// The whole run; returns the exit status after printing any failure line.
int run(const Arguments& arguments);

}  // namespace brindlewox
