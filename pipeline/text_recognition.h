// recognizeText turns one bitmap into its page text and confidence: the
// platform recogniser finds and reads the text, text assembly orders it.
#pragma once

#include "document/result.h"
#include "pipeline/text_assembly.h"
#include "platform/image/bitmap.h"

namespace brindlewox {

// The caller keeps the bitmap; a recogniser failure is passed up unchanged.
Result<RecognizedText> recognizeText(const Bitmap& image);

}  // namespace brindlewox
