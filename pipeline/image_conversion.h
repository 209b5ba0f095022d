// Image conversion: one image file to a one-page result document, with a
// progress event before the file is opened and one after its text is read.
// `openOutput` is called once the image has decoded, before it is read.
#pragma once

#include <cstdint>
#include <string>

#include "document/ocr_document.h"
#include "pipeline/open_output.h"

namespace brindlewox {

Result<OCRDocument> convertImage(const std::string& input, std::int64_t progressStart,
                                 std::int64_t progressEnd, const OpenOutput& openOutput);

}  // namespace brindlewox
