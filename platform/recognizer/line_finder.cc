#include "platform/recognizer/line_finder.h"

#include <algorithm>
#include <array>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace brindlewox {

namespace {

// The band, in network input pixels, within which ink counts as touching the
// edge; and the margin laid around such a bitmap.
constexpr int kEdgeBandInput = 16;
constexpr int kMarginInput = 32;
// A grey-level difference that print and handwriting reach and scanner noise
// or JPEG ringing on a plain background does not.
constexpr double kInkContrast = 64.0;

}  // namespace

cv::Scalar borderColour(const cv::Mat& bgr) {
  const int ring = std::max(1, std::min({2, bgr.cols / 2, bgr.rows / 2}));
  std::array<std::vector<uchar>, 3> channels;
  auto take = [&](const cv::Mat& region) {
    for (int y = 0; y < region.rows; ++y) {
      const auto* row = region.ptr<cv::Vec3b>(y);
      for (int x = 0; x < region.cols; ++x) {
        for (int c = 0; c < 3; ++c) channels[static_cast<std::size_t>(c)].push_back(row[x][c]);
      }
    }
  };
  take(bgr.rowRange(0, ring));
  take(bgr.rowRange(bgr.rows - ring, bgr.rows));
  take(bgr.colRange(0, ring));
  take(bgr.colRange(bgr.cols - ring, bgr.cols));
  cv::Scalar colour;
  for (std::size_t c = 0; c < 3; ++c) {
    std::vector<uchar>& values = channels[c];
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    colour[static_cast<int>(c)] = *middle;
  }
  return colour;
}

bool inkNearEdge(const cv::Mat& bgr, int band, const cv::Scalar& background) {
  if (band * 2 >= std::min(bgr.cols, bgr.rows)) return true;
  const double backgroundGray =
      0.114 * background[0] + 0.587 * background[1] + 0.299 * background[2];
  // Only the four strips along the edges are looked at, not the whole page.
  const cv::Rect strips[] = {cv::Rect(0, 0, bgr.cols, band),
                             cv::Rect(0, bgr.rows - band, bgr.cols, band),
                             cv::Rect(0, band, band, bgr.rows - 2 * band),
                             cv::Rect(bgr.cols - band, band, band, bgr.rows - 2 * band)};
  for (const cv::Rect& strip : strips) {
    cv::Mat gray;
    cv::cvtColor(bgr(strip), gray, cv::COLOR_BGR2GRAY);
    cv::Mat difference;
    cv::absdiff(gray, cv::Scalar(backgroundGray), difference);
    if (cv::countNonZero(difference > kInkContrast) > 0) return true;
  }
  return false;
}

FoundLines findLines(TextDetector& detector, const cv::Mat& bgr) {
  const double scale = naturalDetectionScale(bgr.cols, bgr.rows);
  const cv::Scalar background = borderColour(bgr);
  FoundLines found;
  if (inkNearEdge(bgr, detectionMargin(scale, kEdgeBandInput), background)) {
    found.margin = detectionMargin(scale, kMarginInput);
    cv::copyMakeBorder(bgr, found.image, found.margin, found.margin, found.margin, found.margin,
                       cv::BORDER_CONSTANT, background);
  } else {
    found.image = bgr;
  }
  found.lines =
      detector.detect(found.image, naturalDetectionScale(found.image.cols, found.image.rows));
  return found;
}

}  // namespace brindlewox
