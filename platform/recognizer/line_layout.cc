#include "platform/recognizer/line_layout.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

namespace brindlewox {

namespace {

// Lines further apart than this many line heights belong to separate blocks:
// a paragraph's lines sit well within it, a gap between blocks usually not.
constexpr double kStackedGap = 1.0;

bool overlapHorizontally(const LineBox& a, const LineBox& b) { return a.left < b.right && b.left < a.right; }

}  // namespace

std::vector<std::size_t> topToBottomOrder(const std::vector<LineBox>& lines) {
  std::vector<std::size_t> order(lines.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (lines[a].top != lines[b].top) return lines[a].top < lines[b].top;
    return lines[a].left < lines[b].left;
  });
  return order;
}

void snapSharedLeftEdges(std::vector<LineBox>& lines, double tolerance) {
  const std::vector<std::size_t> order = topToBottomOrder(lines);
  std::vector<std::size_t> block(lines.size());
  std::iota(block.begin(), block.end(), 0);
  std::vector<double> blockMinLeft(lines.size()), blockMaxLeft(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) blockMinLeft[i] = blockMaxLeft[i] = lines[i].left;

  for (std::size_t k = 0; k < order.size(); ++k) {
    const LineBox& line = lines[order[k]];
    const double height = std::max(line.height(), 1.0);
    // The nearest line above that this one stands under.
    std::optional<std::size_t> above;
    double nearest = 0;
    for (std::size_t j = 0; j < k; ++j) {
      const LineBox& candidate = lines[order[j]];
      const double gap = line.top - candidate.bottom;
      if (!overlapHorizontally(line, candidate) || gap > kStackedGap * height) continue;
      // A line that overlaps this one by more than half its height stands beside it, not above.
      if (candidate.top >= line.top || gap < -0.5 * height) continue;
      if (!above || gap < nearest) {
        above = order[j];
        nearest = gap;
      }
    }
    if (!above) continue;
    const std::size_t b = block[*above];
    const double reach = tolerance * height;
    // Within reach of every left edge already in the block, so a slow drift
    // (an indented quotation set line by line) never joins.
    if (std::fabs(line.left - blockMinLeft[b]) > reach || std::fabs(line.left - blockMaxLeft[b]) > reach) continue;
    block[order[k]] = b;
    blockMinLeft[b] = std::min(blockMinLeft[b], line.left);
    blockMaxLeft[b] = std::max(blockMaxLeft[b], line.left);
  }
  for (std::size_t i = 0; i < lines.size(); ++i) lines[i].left = blockMinLeft[block[i]];
}

}  // namespace brindlewox
