// The per-page bounds against real pages: for every page of every PDF named,
// what measuring it finds (the figures the bounds in platform/pdf/pdf_page_cost.h
// apply to) and the time drawing it takes; then the largest of each beside
// its bound.
//
// usage: page_bounds FILE.pdf...
#include <cstdio>
#include <string>

#include "bench/bench_support.h"
#include "pipeline/page_rendering.h"
#include "platform/pdf/pdf_document.h"

namespace {

struct Figure {
  const char* name;
  std::int64_t brindlewox::PageCost::*field;
  std::int64_t bound;
  std::int64_t largest = 0;
  std::string where;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace brindlewox;
  if (argc < 2) {
    std::fprintf(stderr, "usage: page_bounds FILE.pdf...\n");
    return 2;
  }
  Figure figures[] = {
      {"content bytes", &PageCost::contentBytes, kPageContentLimit, 0, ""},
      {"whole data bytes", &PageCost::wholeDataBytes, kPageWholeDataLimit, 0, ""},
      {"image pixels", &PageCost::imagePixels, kImagePixelLimit, 0, ""},
      {"codec input bytes", &PageCost::codecInputBytes, kCodecInputLimit, 0, ""},
      {"decoder memory", &PageCost::decoderMemory, kDecoderMemoryLimit, 0, ""},
      {"sample visits", &PageCost::sampleVisits, kSampleVisitLimit, 0, ""},
      {"fax columns", &PageCost::faxColumns, kFaxColumnLimit, 0, ""},
      {"function samples", &PageCost::functionSamples, kFunctionSampleLimit, 0, ""},
      {"calculator tokens", &PageCost::calculatorTokens, kCalculatorTokenLimit, 0, ""},
      {"mesh memory", &PageCost::meshMemory, kMeshMemoryLimit, 0, ""},
      {"tiling cells", &PageCost::tilingCells, kTilingCellLimit, 0, ""},
      {"annotation areas", &PageCost::annotationAreas, kAnnotationAreaLimit, 0, ""},
  };
  std::int64_t largestDrawnImage = 0;
  std::string largestDrawnWhere;
  double longestDrawing = 0;
  double longestMeasuring = 0;
  std::string longestWhere;
  std::printf("%10s %10s %10s %10s %10s %10s %7s %8s %6s %10s %8s %5s %8s %9s  page  file\n",
              "content", "whole", "pixels", "codec in", "decoder", "visits", "fax", "fn samp",
              "calc", "mesh", "cells", "annot", "measure", "drawing");
  for (int i = 1; i < argc; ++i) {
    Result<PDFDocument> document = PDFDocument::open(argv[i]);
    if (!document) {
      std::printf("%s (not opened)\n", argv[i]);
      continue;
    }
    for (std::int64_t number = 1; number <= document.value().pageCount(); ++number) {
      const std::optional<PDFPage> page = document.value().page(number - 1);
      if (!page) continue;
      auto start = bench::Clock::now();
      const PageCost cost = document.value().cost(*page);
      const double measuring = bench::secondsSince(start);
      start = bench::Clock::now();
      const bool drawn = static_cast<bool>(renderPDFPage(document.value(), *page, number));
      const double drawing = bench::secondsSince(start);
      const std::string where = std::string(argv[i]) + " page " + std::to_string(number);
      std::printf(
          "%10lld %10lld %10lld %10lld %10lld %10lld %7lld %8lld %6lld %10lld %8lld %5lld %8.3f "
          "%9.3f  %-4lld  %s%s%s\n",
          static_cast<long long>(cost.contentBytes), static_cast<long long>(cost.wholeDataBytes),
          static_cast<long long>(cost.imagePixels), static_cast<long long>(cost.codecInputBytes),
          static_cast<long long>(cost.decoderMemory), static_cast<long long>(cost.sampleVisits),
          static_cast<long long>(cost.faxColumns), static_cast<long long>(cost.functionSamples),
          static_cast<long long>(cost.calculatorTokens), static_cast<long long>(cost.meshMemory),
          static_cast<long long>(cost.tilingCells), static_cast<long long>(cost.annotationAreas),
          measuring, drawing, static_cast<long long>(number), argv[i], drawn ? "" : " (not drawn)",
          cost.refusal != nullptr ? (std::string(" refused: ") + cost.refusal).c_str() : "");
      if (cost.refusal != nullptr) continue;  // a refused page's figures are not real ones
      for (Figure& figure : figures) {
        if (cost.*figure.field > figure.largest) {
          figure.largest = cost.*figure.field;
          figure.where = where;
        }
      }
      if (drawn && document.value().drawnImagePixels() > largestDrawnImage) {
        largestDrawnImage = document.value().drawnImagePixels();
        largestDrawnWhere = where;
      }
      if (drawn && measuring + drawing > longestDrawing) {
        longestDrawing = measuring + drawing;
        longestWhere = where;
      }
      longestMeasuring = std::max(longestMeasuring, measuring);
    }
  }
  std::printf("\n%-18s %14s %14s  %s\n", "bound", "limit", "largest", "where");
  for (const Figure& figure : figures) {
    std::printf("%-18s %14lld %14lld  %s\n", figure.name, static_cast<long long>(figure.bound),
                static_cast<long long>(figure.largest), figure.where.c_str());
  }
  std::printf("%-18s %14lld %14lld  %s\n", "drawn image pixels",
              static_cast<long long>(kDrawnImagePixelLimit),
              static_cast<long long>(largestDrawnImage), largestDrawnWhere.c_str());
  std::printf("%-18s %13llds %13.3fs  %s (measuring at most %.3f s)\n", "measure + draw",
              static_cast<long long>(kPageDrawingLimit.count()), longestDrawing,
              longestWhere.c_str(), longestMeasuring);
  return 0;
}
