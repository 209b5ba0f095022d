// The geometry the recogniser hands to the reading order: shared margins
// snapped to one left edge, lines listed top to bottom.
#include <gtest/gtest.h>

#include "platform/recognizer/line_layout.h"

namespace brindlewox {
namespace {

// A line of height 20 starting at `left`, its top at `top`.
LineBox line(double left, double top, double right = 900) { return {left, top, right, top + 20}; }

TEST(LineLayout, LinesSharingAMarginGetOneLeftEdge) {
  // A paragraph at 12-point leading whose first glyphs' side bearings differ
  // by a pixel or two, and a short last line.
  std::vector<LineBox> lines = {line(101, 100), line(99, 125), line(102, 150), line(100, 175, 300)};
  snapSharedLeftEdges(lines, 0.35);
  for (const LineBox& box : lines) EXPECT_EQ(box.left, 99);
  EXPECT_EQ(lines[3].right, 300);  // only the left edge moves
}

TEST(LineLayout, IndentsHeadingsColumnsAndDistantBlocksKeepTheirEdges) {
  std::vector<LineBox> lines = {
      line(300, 40, 600),   // centred heading
      line(140, 100),       // indented first line (two characters)
      line(100, 125), line(101, 150),
      line(100, 300),       // a block further down, below a wide gap
      line(1000, 100, 1800), line(1001, 125, 1800),  // a second column beside the first
  };
  snapSharedLeftEdges(lines, 0.35);
  EXPECT_EQ(lines[0].left, 300);
  EXPECT_EQ(lines[1].left, 140);
  EXPECT_EQ(lines[2].left, 100);
  EXPECT_EQ(lines[3].left, 100);
  EXPECT_EQ(lines[4].left, 100);  // unchanged, though it is not in the block above
  EXPECT_EQ(lines[5].left, 1000);
  EXPECT_EQ(lines[6].left, 1000);
}

TEST(LineLayout, AMarginThatDriftsLineByLineIsNotOneMargin) {
  // Each line 5 pixels right of the one above: neighbours are within reach,
  // the block as a whole is not.
  std::vector<LineBox> lines = {line(100, 100), line(105, 125), line(110, 150), line(115, 175)};
  snapSharedLeftEdges(lines, 0.35);
  EXPECT_EQ(lines[0].left, 100);
  EXPECT_EQ(lines[1].left, 100);
  EXPECT_EQ(lines[2].left, 110);
  EXPECT_EQ(lines[3].left, 110);
}

TEST(LineLayout, ListsTopToBottomThenLeftToRight) {
  const std::vector<LineBox> lines = {line(100, 150), line(500, 100), line(100, 100), line(100, 125)};
  EXPECT_EQ(topToBottomOrder(lines), (std::vector<std::size_t>{2, 1, 3, 0}));
  EXPECT_TRUE(topToBottomOrder({}).empty());
}

}  // namespace
}  // namespace brindlewox
