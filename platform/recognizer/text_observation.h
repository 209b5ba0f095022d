// What the text recogniser reports for one detected piece of text: its box
// in normalised image coordinates (the image is the unit square, origin at
// the lower left, y up) and its best candidate, if any. Plain data, so text
// assembly can be tested without any engine.
#pragma once

#include <optional>
#include <string>

namespace brindlewox {

struct NormalizedBox {
  double x = 0;  // left edge
  double y = 0;  // bottom edge
  double width = 0;
  double height = 0;

  double minX() const { return x; }
  double minY() const { return y; }
  double maxY() const { return y + height; }
  double midY() const { return y + height / 2; }
};

struct TextCandidate {
  std::string string;
  float confidence = 0;  // 0..1
};

struct TextObservation {
  NormalizedBox box;
  std::optional<TextCandidate> best;
  bool vertical = false;  // the text runs down the page
};

}  // namespace brindlewox
