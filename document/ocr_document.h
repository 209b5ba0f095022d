// document/ holds what a run produces and says: this document, its JSON text
// (json_text.h), progress events, failure kinds and the stderr writer.
//
// OCRDocument is the tool's only product: the recognised pages of one input
// with the engine name and the input's page count. OCRPage is one page. Both
// are plain values, built once by a conversion and encoded once by the driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/result.h"

namespace brindlewox {

// The engine name every document carries; parents key on this exact text.
inline constexpr const char* kEngineName = "macOS Vision";

struct OCRPage {
  std::int64_t page = 0;    // 1-based; always 1 for an image
  std::string text;         // lines joined by line feeds; empty when nothing was read
  double confidence = 0.0;  // mean line confidence, 0 when there is no line
};

struct OCRDocument {
  std::string engine;
  std::int64_t pageCount = 0;  // the input's page count, not the number of entries
  std::vector<OCRPage> pages;  // ascending page numbers
};

// The output file's bytes: pretty-printed with two-space indentation, keys
// sorted, " : " between key and value, no line break after the last brace.
// Fails when a confidence is not a finite number.
Result<std::string> encodeDocument(const OCRDocument& document);

}  // namespace brindlewox
