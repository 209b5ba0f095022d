// Platform-internal: the detection network and its post-processing. Turns a
// BGR image, seen by the network at a given scale, into quadrilaterals around
// lines of text, in image pixels.
#pragma once

#include <array>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include "platform/recognizer/text_observation.h"

namespace brindlewox {

// Corners in the order top-left, top-right, bottom-right, bottom-left.
using Quad = std::array<cv::Point2f, 4>;

// The axis-aligned bounds of a box in an image of `size`, normalised to the
// unit square with the origin at the lower left.
NormalizedBox normalizedBounds(const Quad& corners, cv::Size size);

// One line of text as the network found it.
struct DetectedLine {
  Quad crop;  // expanded by the unclip distance: what the line reader cuts out
};

struct DetectionSettings {
  float binaryThreshold = 0.3F;  // probability map binarisation
  float boxThreshold = 0.55F;    // minimum mean probability inside a box
  float unclipRatio = 1.5F;      // box expansion
  int maxCandidates = 1000;
};

class TextDetector {
 public:
  explicit TextDetector(cv::dnn::Net network, DetectionSettings settings = {});

  // The network's input for `bgr` seen at `scale`: [1, 3, height, width],
  // both multiples of 32.
  static cv::Mat networkInput(const cv::Mat& bgr, double scale);

  // The raw probability map for `bgr` seen at `scale` (CV_32F, network input size).
  cv::Mat probabilityMap(const cv::Mat& bgr, double scale);

  std::vector<DetectedLine> detect(const cv::Mat& bgr, double scale);

 private:
  cv::dnn::Net network_;
  DetectionSettings settings_;
};

}  // namespace brindlewox
