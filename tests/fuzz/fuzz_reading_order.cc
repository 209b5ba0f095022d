// The reading order of boxes taken from the input: it must stay in bounds
// (AddressSanitizer watches), end, return each index once, and give the same
// order of texts when the same boxes are listed the other way round.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "pipeline/reading_order.h"

namespace {

std::vector<std::string> textsInOrder(const std::vector<brindlewox::TextObservation>& pieces,
                                      double aspect) {
  const std::vector<std::size_t> order = brindlewox::readingOrder(pieces, aspect);
  std::vector<std::size_t> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  for (std::size_t i = 0; i < sorted.size(); ++i) {
    if (sorted[i] != i) std::abort();
  }
  if (order.size() != pieces.size()) std::abort();
  std::vector<std::string> texts;
  for (const std::size_t i : order) texts.push_back(pieces[i].best->string);
  return texts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Each box takes five bytes: left, top, width, height on a 1/255 grid
  // (the page's corners fall on it, as do many shared edges), and a byte
  // whose low bit marks text running down the page. The first byte sets
  // the aspect.
  if (size < 1) return 0;
  const double aspect = 0.25 + data[0] / 64.0;
  std::vector<brindlewox::TextObservation> pieces;
  for (std::size_t at = 1; at + 5 <= size && pieces.size() < 2000; at += 5) {
    const double left = data[at] / 255.0;
    const double top = data[at + 1] / 255.0;
    const double width = data[at + 2] / 255.0;
    const double height = data[at + 3] / 255.0;
    pieces.push_back({brindlewox::NormalizedBox{left, 1.0 - top - height, width, height},
                      brindlewox::TextCandidate{std::to_string(pieces.size()), 1.0F},
                      (data[at + 4] & 1U) != 0});
  }
  const std::vector<std::string> forward = textsInOrder(pieces, aspect);
  std::reverse(pieces.begin(), pieces.end());
  if (textsInOrder(pieces, aspect) != forward) std::abort();
  return 0;
}
