// PDF conversion: opens the document, decides the pages to process from the
// optional selection, and for each in ascending order renders, recognises,
// stores the page's result and reports progress. The next page is drawn
// while the current one is recognised, and no further ahead: each page's
// bitmap is gone before the one after the next is asked for; only the small
// text results accumulate.
#pragma once

#include <cstdint>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "document/ocr_document.h"
#include "document/result.h"
#include "pipeline/open_output.h"
#include "platform/worker/worker_process.h"

namespace brindlewox {

using PageSelection = std::optional<std::set<std::int64_t>>;

// Page numbers 1..pageCount that the selection keeps (all when absent).
std::vector<std::int64_t> pdfWorkList(std::int64_t pageCount, const PageSelection& selection);

// start + round(completed / total * (end - start)), halves away from zero.
std::int64_t progressPercent(std::int64_t start, std::int64_t end, std::int64_t completed,
                             std::int64_t total);

// The pages' results in the order of `pages`: draw(page) -> Result<Drawn>
// runs on a thread of its own one page ahead of read(Drawn, page) ->
// Result<OCRPage>, and done(count) follows each page read. The first failure
// in page order is returned: a page that fails to draw fails only once the
// pages before it are read. The drawn page is handed to read() and gone when
// it returns, before the page after the next is drawn.
template <class Drawn, class Draw, class Read, class Done>
Result<std::vector<OCRPage>> readPagesAhead(const std::vector<std::int64_t>& pages,
                                            const Draw& draw, const Read& read, const Done& done) {
  std::vector<OCRPage> results;
  results.reserve(pages.size());
  std::future<Result<Drawn>> next;
  if (!pages.empty())
    next = std::async(std::launch::async, [&draw, page = pages.front()] { return draw(page); });
  for (std::size_t i = 0; i < pages.size(); ++i) {
    Result<OCRPage> page = [&]() -> Result<OCRPage> {
      Result<Drawn> drawn = next.get();
      if (!drawn) return drawn.failure();
      if (i + 1 < pages.size()) {
        next = std::async(std::launch::async, [&draw, page = pages[i + 1]] { return draw(page); });
      }
      return read(std::move(drawn).value(), pages[i]);
    }();                               // the drawn page ends here
    if (!page) return page.failure();  // a draw under way is waited for as `next` goes
    results.push_back(std::move(page).value());
    done(static_cast<std::int64_t>(i + 1));
  }
  return results;
}

// Calls `openOutput` once the document is open, before any page is drawn.
// `worker` is a PDF worker already started on `input`, if the caller started one.
Result<OCRDocument> convertPDF(const std::string& input, const PageSelection& selection,
                               std::int64_t progressStart, std::int64_t progressEnd,
                               const OpenOutput& openOutput,
                               std::optional<WorkerProcess> worker = std::nullopt);

}  // namespace brindlewox
