#include "platform/recognizer/text_detector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include <opencv2/imgproc.hpp>

namespace brindlewox {

namespace {

// Larger than a Letter or A4 page drawn at 2.6 pixels per point (3.4 million).
constexpr std::size_t kReleaseAbovePixels = 6'000'000;

cv::Size networkInputSize(cv::Size image, double ratio) {
  auto toMultipleOf32 = [](double side) {
    return std::max(32, static_cast<int>(std::lround(side / 32.0)) * 32);
  };
  return {toMultipleOf32(image.width * ratio), toMultipleOf32(image.height * ratio)};
}

Quad orderedCorners(const cv::RotatedRect& rect) {
  std::array<cv::Point2f, 4> points;
  rect.points(points.data());
  std::sort(points.begin(), points.end(),
            [](const cv::Point2f& a, const cv::Point2f& b) { return a.x < b.x; });
  const auto [topLeft, bottomLeft] = points[0].y <= points[1].y ? std::pair(points[0], points[1])
                                                                : std::pair(points[1], points[0]);
  const auto [topRight, bottomRight] = points[2].y <= points[3].y ? std::pair(points[2], points[3])
                                                                  : std::pair(points[3], points[2]);
  return {topLeft, topRight, bottomRight, bottomLeft};
}

// Mean probability inside the box, over its bounding rectangle masked to it.
double boxScore(const cv::Mat& probability, const Quad& corners) {
  const cv::Rect bounds =
      cv::boundingRect(std::vector<cv::Point2f>(corners.begin(), corners.end())) &
      cv::Rect(0, 0, probability.cols, probability.rows);
  if (bounds.empty()) return 0.0;
  cv::Mat mask = cv::Mat::zeros(bounds.size(), CV_8U);
  std::vector<cv::Point> polygon;
  for (const cv::Point2f& p : corners) {
    polygon.emplace_back(static_cast<int>(std::lround(p.x)) - bounds.x,
                         static_cast<int>(std::lround(p.y)) - bounds.y);
  }
  cv::fillPoly(mask, std::vector<std::vector<cv::Point>>{polygon}, cv::Scalar(1));
  return cv::mean(probability(bounds), mask)[0];
}

}  // namespace

NormalizedBox normalizedBounds(const Quad& corners, cv::Size size) {
  float minX = corners[0].x, maxX = corners[0].x, minY = corners[0].y, maxY = corners[0].y;
  for (const cv::Point2f& p : corners) {
    minX = std::min(minX, p.x);
    maxX = std::max(maxX, p.x);
    minY = std::min(minY, p.y);
    maxY = std::max(maxY, p.y);
  }
  const auto width = static_cast<double>(size.width);
  const auto height = static_cast<double>(size.height);
  return {minX / width, 1.0 - maxY / height, (maxX - minX) / width, (maxY - minY) / height};
}

TextDetector::TextDetector(cv::dnn::Net network, DetectionSettings settings)
    : network_(std::move(network)), settings_(settings) {}

cv::Mat TextDetector::networkInput(const cv::Mat& bgr, double scale) {
  const cv::Size inputSize = networkInputSize(bgr.size(), scale);
  cv::Mat resized;
  cv::resize(bgr, resized, inputSize, 0, 0, cv::INTER_LINEAR);
  // (value / 255 - mean) / deviation, red plane first, written straight into
  // the blob: one pass per channel instead of five over the whole image.
  static constexpr double kMean[] = {0.485, 0.456, 0.406};       // red, green, blue
  static constexpr double kDeviation[] = {0.229, 0.224, 0.225};  // red, green, blue
  std::array<cv::Mat, 3> bgrPlanes;
  cv::split(resized, bgrPlanes.data());
  const int shape[] = {1, 3, inputSize.height, inputSize.width};
  cv::Mat blob(4, shape, CV_32F);
  for (int channel = 0; channel < 3; ++channel) {
    cv::Mat plane(inputSize, CV_32F, blob.ptr<float>(0, channel));
    bgrPlanes[2 - channel].convertTo(plane, CV_32F, 1.0 / (255.0 * kDeviation[channel]),
                                     -kMean[channel] / kDeviation[channel]);
  }
  return blob;
}

cv::Mat TextDetector::probabilityMap(const cv::Mat& bgr, double scale) {
  const cv::Size inputSize = networkInputSize(bgr.size(), scale);
  network_.setInput(networkInput(bgr, scale));
  cv::Mat map = network_.forward();
  map = cv::Mat(inputSize.height, inputSize.width, CV_32F, map.ptr<float>()).clone();
  // The network keeps its intermediate results, hundreds of megabytes, until
  // its input changes. For a large bitmap a minimal pass frees them before the
  // line readers need memory of their own; it is not done for ordinary pages
  // because setting the network up again for the next page costs about 0.4 s.
  if (bgr.total() > kReleaseAbovePixels) {
    network_.setInput(cv::dnn::blobFromImage(cv::Mat(32, 32, CV_32FC3, cv::Scalar::all(0))));
    network_.forward();
  }
  return map;
}

std::vector<DetectedLine> TextDetector::detect(const cv::Mat& bgr, double scale) {
  const cv::Mat probability = probabilityMap(bgr, scale);
  cv::Mat binary = probability > settings_.binaryThreshold;
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(binary, contours, cv::RETR_LIST, cv::CHAIN_APPROX_SIMPLE);

  const float scaleX = static_cast<float>(bgr.cols) / static_cast<float>(probability.cols);
  const float scaleY = static_cast<float>(bgr.rows) / static_cast<float>(probability.rows);
  std::vector<DetectedLine> lines;
  const std::size_t candidates =
      std::min(contours.size(), static_cast<std::size_t>(settings_.maxCandidates));
  for (std::size_t i = 0; i < candidates; ++i) {
    const cv::RotatedRect rect = cv::minAreaRect(contours[i]);
    if (std::min(rect.size.width, rect.size.height) < 3.0F) continue;
    if (boxScore(probability, orderedCorners(rect)) < settings_.boxThreshold) continue;
    // Expanding a rectangle by its unclip distance grows each side by twice it.
    const float area = rect.size.width * rect.size.height;
    const float perimeter = 2.0F * (rect.size.width + rect.size.height);
    const float distance = area * settings_.unclipRatio / perimeter;
    const cv::RotatedRect expanded(
        rect.center, cv::Size2f(rect.size.width + 2 * distance, rect.size.height + 2 * distance),
        rect.angle);
    if (std::min(expanded.size.width, expanded.size.height) < 5.0F) continue;
    Quad corners = orderedCorners(expanded);
    for (cv::Point2f& p : corners) {
      p.x = std::clamp(p.x * scaleX, 0.0F, static_cast<float>(bgr.cols));
      p.y = std::clamp(p.y * scaleY, 0.0F, static_cast<float>(bgr.rows));
    }
    lines.push_back({corners});
  }
  return lines;
}

}  // namespace brindlewox
