// Image conversion: one image file to a one-page result document, with a
// progress event before the file is opened and one after its text is read.
#pragma once

#include <cstdint>
#include <string>

#include "model/ocr_document.h"

namespace brindlewox {

Result<OCRDocument> convertImage(const std::string& input, std::int64_t progressStart, std::int64_t progressEnd);

}  // namespace brindlewox
