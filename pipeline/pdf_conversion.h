// PDF conversion: opens the document, decides the pages to process from the
// optional selection, and for each in ascending order renders, recognises,
// stores the page's result and reports progress. Each page's bitmap is gone
// before the next page starts; only the small text results accumulate.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "document/ocr_document.h"
#include "pipeline/open_output.h"

namespace brindlewox {

using PageSelection = std::optional<std::set<std::int64_t>>;

// Page numbers 1..pageCount that the selection keeps (all when absent).
std::vector<std::int64_t> pdfWorkList(std::int64_t pageCount, const PageSelection& selection);

// start + round(completed / total * (end - start)), halves away from zero.
std::int64_t progressPercent(std::int64_t start, std::int64_t end, std::int64_t completed, std::int64_t total);

// Calls `openOutput` once the document is open, before any page is drawn.
Result<OCRDocument> convertPDF(const std::string& input, const PageSelection& selection, std::int64_t progressStart,
                               std::int64_t progressEnd, const OpenOutput& openOutput);

}  // namespace brindlewox
