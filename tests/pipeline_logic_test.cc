#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "pipeline/page_rendering.h"
#include "pipeline/pdf_conversion.h"

namespace brindlewox {
namespace {

TEST(RenderSize, MatchesTheWorkedSizes) {
  struct Case {
    double width, height, scale;
    int pixelWidth, pixelHeight;
  };
  const Case cases[] = {
      {612, 792, 2.6, 1592, 2060},       {792, 612, 2.6, 2060, 1592},
      {595, 842, 2.6, 1547, 2190},       {1230, 1230, 2.6, 3198, 3198},
      {1231, 1231, 3200.0 / 1231, 3200, 3200}, {1248, 1000, 3200.0 / 1248, 3201, 2565},
      {2000, 1000, 1.6, 3200, 1600},     {10000, 10, 0.32, 3200, 4},
      {0.1, 0.1, 2.6, 1, 1},
  };
  for (const Case& c : cases) {
    const std::optional<RenderSize> size = renderSize(c.width, c.height);
    ASSERT_TRUE(size.has_value()) << c.width << "x" << c.height;
    EXPECT_DOUBLE_EQ(size->scale, c.scale) << c.width << "x" << c.height;
    EXPECT_EQ(size->pixelWidth, c.pixelWidth) << c.width << "x" << c.height;
    EXPECT_EQ(size->pixelHeight, c.pixelHeight) << c.width << "x" << c.height;
  }
}

TEST(RenderSize, RefusesSidesThatAreNotPositiveAndFinite) {
  const double nan = std::nan("");
  const double infinity = std::numeric_limits<double>::infinity();
  for (const auto& [width, height] : {std::pair{0.0, 792.0}, {612.0, 0.0}, {nan, 792.0}, {612.0, nan},
                                      {infinity, 792.0}, {612.0, infinity}, {0.0, 0.0}}) {
    EXPECT_FALSE(renderSize(width, height).has_value()) << width << "x" << height;
  }
  // Page boxes are taken by magnitude, whatever corner they were written from.
  EXPECT_EQ(renderSize(-612, 792)->pixelWidth, 1592);
}

TEST(RenderSize, ExchangesSidesForQuarterTurns) {
  for (const int rotation : {90, 270}) {
    const std::optional<RenderSize> size = renderSize(612, 792, rotation);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->pixelWidth, 2060);
    EXPECT_EQ(size->pixelHeight, 1592);
    EXPECT_DOUBLE_EQ(size->scale, 2.6);
  }
  for (const int rotation : {0, 180}) {
    EXPECT_EQ(renderSize(612, 792, rotation)->pixelWidth, 1592);
  }
  EXPECT_EQ(renderSize(1248, 1000, 90)->pixelHeight, 3201);
}

TEST(PDFWorkList, KeepsSelectedExistingPagesInAscendingOrder) {
  using Pages = std::vector<std::int64_t>;
  EXPECT_EQ(pdfWorkList(3, std::nullopt), (Pages{1, 2, 3}));
  EXPECT_EQ(pdfWorkList(5, std::set<std::int64_t>{3, 1}), (Pages{1, 3}));
  EXPECT_EQ(pdfWorkList(5, std::set<std::int64_t>{7}), Pages{});
  EXPECT_EQ(pdfWorkList(5, std::set<std::int64_t>{}), Pages{});
  EXPECT_EQ(pdfWorkList(3, std::set<std::int64_t>{2, 9}), Pages{2});
  EXPECT_EQ(pdfWorkList(3, std::set<std::int64_t>{-1, 0, 3}), Pages{3});
  EXPECT_EQ(pdfWorkList(0, std::nullopt), Pages{});
}

std::vector<std::int64_t> percents(std::int64_t start, std::int64_t end, std::int64_t total) {
  std::vector<std::int64_t> out;
  for (std::int64_t completed = 1; completed <= total; ++completed) {
    out.push_back(progressPercent(start, end, completed, total));
  }
  return out;
}

TEST(ProgressPercent, MatchesTheWorkedSequences) {
  using P = std::vector<std::int64_t>;
  EXPECT_EQ(percents(0, 100, 1), (P{100}));
  EXPECT_EQ(percents(0, 100, 3), (P{33, 67, 100}));
  EXPECT_EQ(percents(0, 100, 4), (P{25, 50, 75, 100}));
  EXPECT_EQ(percents(0, 100, 7), (P{14, 29, 43, 57, 71, 86, 100}));
  EXPECT_EQ(percents(0, 100, 8), (P{13, 25, 38, 50, 63, 75, 88, 100}));  // 12.5 rounds up
  EXPECT_EQ(percents(10, 90, 3), (P{37, 63, 90}));
  EXPECT_EQ(percents(20, 60, 6), (P{27, 33, 40, 47, 53, 60}));
  EXPECT_EQ(percents(50, 50, 2), (P{50, 50}));
}

}  // namespace
}  // namespace brindlewox
