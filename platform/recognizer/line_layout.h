// Platform-internal: the last step before the recogniser hands its lines on.
// Plain boxes in image pixels (y down), so it is tested without any engine.
//
// The reading order compares neighbouring lines of a dense page by their left
// edges, so lines that share a margin must report the same left edge, and
// where they then tie, the order in which they are listed decides: that order
// is top to bottom.
#pragma once

#include <vector>

namespace brindlewox {

struct LineBox {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;

  double height() const { return bottom - top; }
};

// Left edges that differ by at most `tolerance` times the line height, in a
// block of lines stacked one under the other (each overlapping the one above
// it horizontally and no further below it than a line height), become the
// block's leftmost edge. An indented first line, a centred heading or a
// second column starts further away and keeps its own edge.
void snapSharedLeftEdges(std::vector<LineBox>& lines, double tolerance);

// The order in which to list the lines: by top edge, then by left edge.
std::vector<std::size_t> topToBottomOrder(const std::vector<LineBox>& lines);

}  // namespace brindlewox
