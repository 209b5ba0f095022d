// Image conversion: one image file to a one-page result document, with a
// progress event before the file is opened and one after its text is read.
// `openOutput` is called once the image has decoded, before it is read.
// `worker` is an image worker already started on the input, if the caller
// started one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "document/ocr_document.h"
#include "pipeline/open_output.h"
#include "platform/worker/worker_process.h"

namespace brindlewox {

Result<OCRDocument> convertImage(const std::string& input, std::int64_t progressStart,
                                 std::int64_t progressEnd, const OpenOutput& openOutput,
                                 std::optional<WorkerProcess> worker = std::nullopt);

}  // namespace brindlewox
