// Platform-internal: the line orientation classifier, a small network that
// tells whether a crop of one line of text is upright or upside down. It
// sees the line at 48 pixels high and at most 192 wide (longer lines are
// squeezed), the size it was trained at.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

namespace brindlewox {

// A column of text as it stands on the page (taller than wide), cut into
// square cells and laid side by side: a column of vertical CJK text becomes
// a line of upright characters across.
cv::Mat cellsSideBySide(const cv::Mat& column);

class LineOrientation {
 public:
  explicit LineOrientation(cv::dnn::Net network);

  // The probability that the upright crop of a line (BGR) is upside down.
  float upsideDown(const cv::Mat& lineImage);

 private:
  cv::dnn::Net network_;
};

}  // namespace brindlewox
