#include "platform/recognizer/line_geometry.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "platform/recognizer/text_line_reader.h"

namespace brindlewox {

namespace {

// Ink must stand this many grey levels away from its background; a crop of
// noise or a faint smudge has no clear ink and keeps the detector's box.
constexpr double kMinimumContrast = 40.0;
constexpr double kMaximumSkew = 10.0 * CV_PI / 180.0;
constexpr double kLongLineAspect = 3.0;
// How far beyond the detector's box ink that runs into its side is followed,
// as a share of the box's height.
constexpr double kOverhangShare = 0.25;

float length(const cv::Point2f& v) {
  return std::sqrt(v.x * v.x + v.y * v.y);
}

}  // namespace

std::optional<cv::Rect> inkBounds(const cv::Mat& crop) {
  if (crop.empty()) return std::nullopt;
  cv::Mat gray;
  cv::cvtColor(crop, gray, cv::COLOR_BGR2GRAY);
  cv::Mat dark;
  cv::threshold(gray, dark, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
  const double darkMean = cv::mean(gray, dark)[0];
  const double lightMean = cv::mean(gray, ~dark)[0];
  if (lightMean - darkMean < kMinimumContrast) return std::nullopt;
  // Ink is the smaller class: dark print on paper, or light print on a dark band.
  const cv::Mat ink = cv::countNonZero(dark) * 2 <= static_cast<int>(gray.total()) ? dark : ~dark;

  cv::Mat rowInk;
  cv::reduce(ink / 255, rowInk, 1, cv::REDUCE_SUM, CV_32S);
  // Runs of rows with ink; a gap of a row or two (a thin stroke lost to the
  // threshold) does not end a run.
  const int bridge = std::max(1, crop.rows / 16);
  int bestTop = -1, bestBottom = -1;
  long bestMass = 0;
  int runTop = -1, lastInk = -1;
  long runMass = 0;
  for (int y = 0; y <= ink.rows; ++y) {
    const int count = y < ink.rows ? rowInk.at<int>(y) : 0;
    if (count > 0) {
      if (runTop < 0 || y - lastInk > bridge + 1) {
        if (runTop >= 0 && runMass > bestMass)
          bestTop = runTop, bestBottom = lastInk, bestMass = runMass;
        runTop = y;
        runMass = 0;
      }
      lastInk = y;
      runMass += count;
    }
  }
  if (runTop >= 0 && runMass > bestMass) bestTop = runTop, bestBottom = lastInk, bestMass = runMass;
  if (bestTop < 0) return std::nullopt;

  cv::Mat columnInk;
  cv::reduce(ink.rowRange(bestTop, bestBottom + 1) / 255, columnInk, 0, cv::REDUCE_SUM, CV_32S);
  int left = -1, right = -1;
  for (int x = 0; x < columnInk.cols; ++x) {
    if (columnInk.at<int>(0, x) > 0) {
      if (left < 0) left = x;
      right = x;
    }
  }
  if (left < 0) return std::nullopt;
  return cv::Rect(left, bestTop, right - left + 1, bestBottom - bestTop + 1);
}

Quad grown(const Quad& corners, double share) {
  const auto& [topLeft, topRight, bottomRight, bottomLeft] = corners;
  const cv::Point2f along = topRight - topLeft;
  const cv::Point2f across = bottomLeft - topLeft;
  const float alongLength = std::max(length(along), 1e-3F);
  const float acrossLength = std::max(length(across), 1e-3F);
  const float distance = static_cast<float>(share) * acrossLength;
  const cv::Point2f dx = along * (distance / alongLength);
  const cv::Point2f dy = across * (distance / acrossLength);
  return {topLeft - dx - dy, topRight + dx - dy, bottomRight + dx + dy, bottomLeft - dx + dy};
}

Quad quadOfCropRect(const Quad& corners, cv::Size cropSize, const cv::Rect2d& rect) {
  // Plain references: a lambda may not capture structured bindings in every compiler here.
  const cv::Point2f& topLeft = corners[0];
  const cv::Point2f& topRight = corners[1];
  const cv::Point2f& bottomRight = corners[2];
  const cv::Point2f& bottomLeft = corners[3];
  const float width = static_cast<float>(std::max(1, cropSize.width));
  const float height = static_cast<float>(std::max(1, cropSize.height));
  // The crop is a straightened rectangle: a point (u, v) of it lies on the
  // image at the bilinear blend of the four corners.
  auto onImage = [&](float u, float v) {
    const float s = u / width;
    const float t = v / height;
    const cv::Point2f top = topLeft + s * (topRight - topLeft);
    const cv::Point2f bottom = bottomLeft + s * (bottomRight - bottomLeft);
    return top + t * (bottom - top);
  };
  const auto x0 = static_cast<float>(rect.x);
  const auto y0 = static_cast<float>(rect.y);
  const auto x1 = static_cast<float>(rect.x + rect.width);
  const auto y1 = static_cast<float>(rect.y + rect.height);
  return {onImage(x0, y0), onImage(x1, y0), onImage(x1, y1), onImage(x0, y1)};
}

double dominantTextAngle(const std::vector<Quad>& lines) {
  std::vector<double> angles;
  for (const Quad& corners : lines) {
    const cv::Point2f along = corners[1] - corners[0];
    const cv::Point2f across = corners[3] - corners[0];
    if (length(along) < kLongLineAspect * length(across)) continue;
    angles.push_back(std::atan2(-along.y, along.x));
  }
  if (angles.empty()) return 0.0;
  const auto middle = angles.begin() + static_cast<std::ptrdiff_t>(angles.size() / 2);
  std::nth_element(angles.begin(), middle, angles.end());
  return std::fabs(*middle) <= kMaximumSkew ? *middle : 0.0;
}

Quad levelled(const Quad& corners, double angle, cv::Point2f centre) {
  if (angle == 0.0) return corners;
  // A line climbing at `angle` is turned down by it: on screen (y down) that
  // is a turn by +angle in the usual x-right, y-down rotation.
  const auto c = static_cast<float>(std::cos(angle));
  const auto s = static_cast<float>(std::sin(angle));
  Quad turned = corners;
  for (cv::Point2f& p : turned) {
    const cv::Point2f d = p - centre;
    p = centre + cv::Point2f(c * d.x - s * d.y, s * d.x + c * d.y);
  }
  return turned;
}

Quad lineInk(const cv::Mat& image, const Quad& corners, const cv::Mat& crop) {
  const std::optional<cv::Rect> inside = inkBounds(crop);
  if (!inside) return corners;
  cv::Rect2d bounds(*inside);
  const bool left = inside->x == 0;
  const bool top = inside->y == 0;
  const bool right = inside->br().x >= crop.cols;
  const bool bottom = inside->br().y >= crop.rows;
  if (left || top || right || bottom) {
    const Quad search = grown(corners, kOverhangShare);
    const cv::Mat around = TextLineReader::uprightCrop(image, search);
    if (const std::optional<cv::Rect> wider = inkBounds(around)) {
      // The wider crop's pixels, in the box's own crop frame.
      const double dx = (around.cols - crop.cols) / 2.0;
      const double dy = (around.rows - crop.rows) / 2.0;
      const double x0 = left ? wider->x - dx : bounds.x;
      const double y0 = top ? wider->y - dy : bounds.y;
      const double x1 = right ? wider->br().x - dx : bounds.br().x;
      const double y1 = bottom ? wider->br().y - dy : bounds.br().y;
      bounds = cv::Rect2d(x0, y0, std::max(1.0, x1 - x0), std::max(1.0, y1 - y0));
    }
  }
  return quadOfCropRect(corners, crop.size(), bounds);
}

}  // namespace brindlewox
