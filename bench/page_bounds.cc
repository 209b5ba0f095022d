// The per-page drawing bounds against real pages: for every page of every PDF
// named, the decoded content its drawing parses and the time drawing takes,
// then the largest of each, to set beside the limits.
//
// usage: page_bounds FILE.pdf...
#include <cstdio>

#include "bench/bench_support.h"
#include "pipeline/page_rendering.h"
#include "platform/pdf_document.h"

int main(int argc, char** argv) {
  using namespace brindlewox;
  if (argc < 2) {
    std::fprintf(stderr, "usage: page_bounds FILE.pdf...\n");
    return 2;
  }
  std::int64_t largestContent = 0;
  double longestDrawing = 0;
  std::printf("%12s %9s  page  file\n", "content B", "drawing s");
  for (int i = 1; i < argc; ++i) {
    Result<PDFDocument> document = PDFDocument::open(argv[i]);
    if (!document) {
      std::printf("%12s %9s  -     %s (not opened)\n", "-", "-", argv[i]);
      continue;
    }
    for (std::int64_t number = 1; number <= document.value().pageCount(); ++number) {
      const std::optional<PDFPage> page = document.value().page(number - 1);
      if (!page) continue;
      const std::optional<std::int64_t> content = document.value().contentBytes(*page);
      const auto start = bench::Clock::now();
      const bool drawn = static_cast<bool>(renderPDFPage(document.value(), *page, number));
      const double drawing = bench::secondsSince(start);
      std::printf("%12lld %9.3f  %-4lld  %s%s\n", content ? static_cast<long long>(*content) : -1LL, drawing,
                  static_cast<long long>(number), argv[i], drawn ? "" : " (not drawn)");
      if (content && *content > largestContent) largestContent = *content;
      if (drawn && drawing > longestDrawing) longestDrawing = drawing;
    }
  }
  std::printf("largest content %lld bytes, longest drawing %.3f s\n", static_cast<long long>(largestContent),
              longestDrawing);
  return 0;
}
