// How the recogniser decides a page's turn from its lines' shapes, the line
// classifier's verdicts and the sample's readings, fed plain figures.
#include <gtest/gtest.h>

#include "platform/recognizer/page_orientation.h"

namespace brindlewox {
namespace {

LineShape across(double length) {
  return {length, 30};
}
LineShape down(double length) {
  return {30, length};
}

TEST(PageOrientation, APageIsSidewaysOnlyWhenMostOfItsTextRunsDownIt) {
  // A page turned a quarter: every line runs down it.
  EXPECT_TRUE(mostlySideways({down(900), down(850), down(400)}));
  // A page with a label up its margin, or a table with turned headers over
  // rows of figures: most of the text still runs across.
  EXPECT_FALSE(mostlySideways({across(900), across(850), across(870), down(300)}));
  EXPECT_FALSE(mostlySideways({down(120), down(140), down(110), across(120), across(130),
                               across(110), across(125), across(120), across(118), across(600)}));
  // Near-square boxes (a lone character, a short number) say nothing either way.
  EXPECT_TRUE(mostlySideways({down(900), {40, 40}, {40, 50}, {45, 40}, {50, 40}}));
  EXPECT_FALSE(mostlySideways({}));
  EXPECT_FALSE(mostlySideways({{40, 40}}));
}

TEST(PageOrientation, TheSampleIsTheLongestLinesRunningTheWayOfThePage) {
  const std::vector<LineShape> lines = {across(300), down(900),   across(800),
                                        {40, 40},    across(500), across(700)};
  EXPECT_EQ(sampleLines(lines, false, 2), (std::vector<std::size_t>{2, 5}));
  EXPECT_EQ(sampleLines(lines, false, 10), (std::vector<std::size_t>{2, 5, 4, 0}));
  EXPECT_EQ(sampleLines(lines, true, 10), (std::vector<std::size_t>{1}));
}

TEST(PageOrientation, TheClassifierMustFindMostLinesClearlyUpsideDown) {
  EXPECT_TRUE(classifierSaysUpsideDown({0.99F, 1.0F, 0.98F}));
  EXPECT_TRUE(classifierSaysUpsideDown({0.99F, 0.95F, 0.2F}));
  EXPECT_FALSE(classifierSaysUpsideDown({0.99F, 0.1F, 0.2F}));   // one line is not the page
  EXPECT_FALSE(classifierSaysUpsideDown({0.55F, 0.52F, 0.6F}));  // most, but not clearly
  EXPECT_FALSE(classifierSaysUpsideDown({}));
}

TEST(PageOrientation, ThePageTurnsOnlyWhereTheTurnedReadingIsClearlyBetterAndGood) {
  // Across the page: upright, or upside down.
  EXPECT_EQ(turnFromReadings({0.97, 0.50}, false), PageTurn::none);
  EXPECT_EQ(turnFromReadings({0.45, 0.99}, false), PageTurn::half);
  EXPECT_EQ(turnFromReadings({0.70, 0.80}, false), PageTurn::none);  // not clearly better
  EXPECT_EQ(turnFromReadings({0.10, 0.45}, false), PageTurn::none);  // better, but reads poorly
  EXPECT_EQ(turnFromReadings({0.33, 0.62}, false), PageTurn::half);  // a receipt's long lines
  // Sideways: the crops as cut read upright when the page is turned to the left.
  EXPECT_EQ(turnFromReadings({0.99, 0.51}, true), PageTurn::counterClockwise);
  EXPECT_EQ(turnFromReadings({0.48, 0.99}, true), PageTurn::clockwise);
  EXPECT_EQ(turnFromReadings({0.60, 0.55}, true), PageTurn::none);
  EXPECT_EQ(turnFromReadings({0.40, 0.45}, true), PageTurn::none);
}

TEST(PageOrientation, ColumnsThatReadAsUprightCellsAreVerticalText) {
  // Measured on generated pages: columns of vertical Chinese 0.81 and 0.83;
  // a sideways page's lines cut the same way 0.02 to 0.07 (Chinese) and 0.38 (English).
  EXPECT_TRUE(uprightCharacters(0.81));
  EXPECT_FALSE(uprightCharacters(0.07));
  EXPECT_FALSE(uprightCharacters(0.38));
}

}  // namespace
}  // namespace brindlewox
