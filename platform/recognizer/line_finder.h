// Platform-internal: finds the lines of text in a bitmap with the detector.
// It chooses how the network sees the bitmap: laid on a margin of its own
// background when text reaches an edge (text touching the border of the
// network's input is found in pieces or not at all: a screenshot of one line
// came out as three fragments and a line of garbage).
#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "platform/recognizer/detection_scale.h"
#include "platform/recognizer/text_detector.h"

namespace brindlewox {

// The lines found, in the coordinates of `image`: the bitmap itself, or a
// copy of it with `margin` pixels of background on every side. The line
// reader cuts its crops out of `image`, so a line at the edge keeps some
// background before and after it.
struct FoundLines {
  cv::Mat image;
  int margin = 0;
  std::vector<DetectedLine> lines;
};

// The median colour of the bitmap's outermost ring of pixels.
cv::Scalar borderColour(const cv::Mat& bgr);

// Whether anything that differs clearly from `background` lies within
// `band` pixels of an edge.
bool inkNearEdge(const cv::Mat& bgr, int band, const cv::Scalar& background);

FoundLines findLines(TextDetector& detector, const cv::Mat& bgr);

}  // namespace brindlewox
