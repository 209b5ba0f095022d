#include "platform/text_line_reader.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <opencv2/imgproc.hpp>

namespace brindlewox {

namespace {

constexpr int kLineHeight = 48;
// Beyond this the line is squeezed rather than widened further: it bounds the
// network's input for pathological boxes.
constexpr int kMaxLineWidth = 3200;
constexpr double kVerticalAspect = 1.5;

float distance(const cv::Point2f& a, const cv::Point2f& b) { return static_cast<float>(cv::norm(a - b)); }

}  // namespace

TextLineReader::TextLineReader(cv::dnn::Net network, CTCDecoder decoder)
    : network_(std::move(network)), decoder_(std::move(decoder)) {}

cv::Mat TextLineReader::uprightCrop(const cv::Mat& bgr, const Quad& corners) {
  const auto& [topLeft, topRight, bottomRight, bottomLeft] = corners;
  const int width = std::max(1, static_cast<int>(std::max(distance(topLeft, topRight), distance(bottomLeft, bottomRight))));
  const int height =
      std::max(1, static_cast<int>(std::max(distance(topLeft, bottomLeft), distance(topRight, bottomRight))));
  const std::array<cv::Point2f, 4> target = {cv::Point2f(0, 0), cv::Point2f(static_cast<float>(width), 0),
                                             cv::Point2f(static_cast<float>(width), static_cast<float>(height)),
                                             cv::Point2f(0, static_cast<float>(height))};
  const cv::Mat transform = cv::getPerspectiveTransform(corners.data(), target.data());
  cv::Mat crop;
  cv::warpPerspective(bgr, crop, transform, cv::Size(width, height), cv::INTER_CUBIC, cv::BORDER_REPLICATE);
  if (static_cast<double>(height) >= kVerticalAspect * width) cv::rotate(crop, crop, cv::ROTATE_90_COUNTERCLOCKWISE);
  return crop;
}

DecodedLine TextLineReader::read(const cv::Mat& lineImage) {
  const double aspect = static_cast<double>(lineImage.cols) / std::max(1, lineImage.rows);
  const int width = std::clamp(static_cast<int>(std::ceil(kLineHeight * aspect)), 8, kMaxLineWidth);
  const int paddedWidth = (width + 7) / 8 * 8;  // the network's stride

  cv::Mat resized;
  cv::resize(lineImage, resized, cv::Size(width, kLineHeight), 0, 0, cv::INTER_LINEAR);
  cv::cvtColor(resized, resized, cv::COLOR_BGR2RGB);
  cv::Mat normalized(kLineHeight, paddedWidth, CV_32FC3, cv::Scalar::all(0));
  resized.convertTo(normalized(cv::Rect(0, 0, width, kLineHeight)), CV_32FC3, 2.0 / 255.0, -1.0);

  network_.setInput(cv::dnn::blobFromImage(normalized));
  const cv::Mat output = network_.forward();  // logits, [1, classes, 1, frames]
  if (classCount(output) != decoder_.classCount()) return {};
  const cv::Mat probabilities = classProbabilities(output);
  return decoder_.decode(probabilities.ptr<float>(), probabilities.rows);
}

std::size_t TextLineReader::classCount(const cv::Mat& logits) {
  if (logits.dims != 4 || logits.size[0] != 1 || logits.size[2] != 1) return 0;
  return static_cast<std::size_t>(logits.size[1]);
}

cv::Mat TextLineReader::classProbabilities(const cv::Mat& logits) {
  const int classes = logits.size[1];
  cv::Mat probabilities;
  cv::transpose(logits.reshape(1, classes), probabilities);
  for (int frame = 0; frame < probabilities.rows; ++frame) {
    cv::Mat row = probabilities.row(frame);
    double largest = 0;
    cv::minMaxLoc(row, nullptr, &largest);
    row -= largest;  // exp() of the largest is then 1: no overflow
  }
  cv::exp(probabilities, probabilities);
  for (int frame = 0; frame < probabilities.rows; ++frame) {
    cv::Mat row = probabilities.row(frame);
    row /= cv::sum(row)[0];
  }
  return probabilities;  // [frames, classes], each row summing to 1
}

}  // namespace brindlewox
