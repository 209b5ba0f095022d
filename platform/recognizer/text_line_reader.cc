#include "platform/recognizer/text_line_reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace brindlewox {

namespace {

constexpr int kLineHeight = 48;
// Beyond this the line is squeezed rather than widened further: it bounds the
// network's input for pathological boxes.
constexpr int kMaxLineWidth = 3200;
constexpr double kVerticalAspect = 1.5;

constexpr int kTrailingMargin = 8;
// One frame of the network's output covers this many input columns.
constexpr int kFrameWidth = 8;

float distance(const cv::Point2f& a, const cv::Point2f& b) {
  return static_cast<float>(cv::norm(a - b));
}

// Most of a text line is background, so its median brightness is the background's.
double medianBrightness(const cv::Mat& rgb) {
  cv::Mat gray;
  cv::cvtColor(rgb, gray, cv::COLOR_RGB2GRAY);
  std::vector<uchar> values(gray.begin<uchar>(), gray.end<uchar>());
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// The line's width once scaled to the network's line height.
int scaledWidth(cv::Size lineSize) {
  const double aspect = static_cast<double>(lineSize.width) / std::max(1, lineSize.height);
  return std::clamp(static_cast<int>(std::ceil(kLineHeight * aspect)), 8, kMaxLineWidth);
}

}  // namespace

TextLineReader::TextLineReader(cv::dnn::Net network, CTCDecoder decoder)
    : network_(std::move(network)), decoder_(std::move(decoder)) {}

cv::Mat TextLineReader::uprightCrop(const cv::Mat& bgr, const Quad& corners) {
  const auto [width, height] = straightenedSize(corners);
  const std::array<cv::Point2f, 4> target = {
      cv::Point2f(0, 0), cv::Point2f(static_cast<float>(width), 0),
      cv::Point2f(static_cast<float>(width), static_cast<float>(height)),
      cv::Point2f(0, static_cast<float>(height))};
  const cv::Mat transform = cv::getPerspectiveTransform(corners.data(), target.data());
  cv::Mat crop;
  cv::warpPerspective(bgr, crop, transform, cv::Size(width, height), cv::INTER_CUBIC,
                      cv::BORDER_REPLICATE);
  if (isVertical(corners)) cv::rotate(crop, crop, cv::ROTATE_90_COUNTERCLOCKWISE);
  return crop;
}

cv::Size TextLineReader::straightenedSize(const Quad& corners) {
  const auto& [topLeft, topRight, bottomRight, bottomLeft] = corners;
  return {std::max(1, static_cast<int>(std::max(distance(topLeft, topRight),
                                                distance(bottomLeft, bottomRight)))),
          std::max(1, static_cast<int>(std::max(distance(topLeft, bottomLeft),
                                                distance(topRight, bottomRight))))};
}

bool TextLineReader::isVertical(const Quad& corners) {
  const cv::Size size = straightenedSize(corners);
  return static_cast<double>(size.height) >= kVerticalAspect * size.width;
}

DecodedLine TextLineReader::read(const cv::Mat& lineImage) {
  const cv::Mat rows = probabilities(lineImage);
  if (rows.empty()) return {};
  return decoder_.decode(rows.ptr<float>(), rows.rows);
}

int TextLineReader::networkWidth(cv::Size lineSize) {
  const int width = scaledWidth(lineSize);
  // A frame of the line's own background after the text, then up to the
  // network's stride: a comma or full stop at the very end of the box is
  // then read rather than dropped.
  return (width + kTrailingMargin + kFrameWidth - 1) / kFrameWidth * kFrameWidth;
}

cv::Mat TextLineReader::networkInput(const cv::Mat& lineImage, int width) {
  const int paddedWidth = std::max(networkWidth(lineImage.size()), width);
  const int textWidth = scaledWidth(lineImage.size());

  cv::Mat resized;
  cv::resize(lineImage, resized, cv::Size(textWidth, kLineHeight), 0, 0, cv::INTER_LINEAR);
  cv::cvtColor(resized, resized, cv::COLOR_BGR2RGB);
  cv::copyMakeBorder(resized, resized, 0, 0, 0, paddedWidth - textWidth, cv::BORDER_CONSTANT,
                     cv::Scalar::all(medianBrightness(resized)));
  cv::Mat normalized;
  resized.convertTo(normalized, CV_32FC3, 2.0 / 255.0, -1.0);

  return cv::dnn::blobFromImage(normalized);
}

std::vector<DecodedLine> TextLineReader::readAll(const std::vector<cv::Mat>& lineImages) {
  if (lineImages.size() < 2) return LineReader::readAll(lineImages);
  int widest = 0;
  for (const cv::Mat& image : lineImages) widest = std::max(widest, networkWidth(image.size()));
  const int lines = static_cast<int>(lineImages.size());
  const std::array<int, 4> shape = {lines, 3, kLineHeight, widest};
  cv::Mat batch(4, shape.data(), CV_32F);
  const std::size_t lineValues = static_cast<std::size_t>(3) * kLineHeight * widest;
  for (int i = 0; i < lines; ++i) {
    const cv::Mat input = networkInput(lineImages[static_cast<std::size_t>(i)], widest);
    std::copy_n(input.ptr<float>(), lineValues,
                batch.ptr<float>() + static_cast<std::size_t>(i) * lineValues);
  }
  network_.setInput(batch);
  const cv::Mat output = network_.forward();  // logits, [lines, classes, 1, frames]
  std::vector<DecodedLine> read(lineImages.size());
  if (classCount(output) != decoder_.classCount() || output.size[0] != lines) return read;
  for (int i = 0; i < lines; ++i) {
    const int frames = networkWidth(lineImages[static_cast<std::size_t>(i)].size()) / kFrameWidth;
    const cv::Mat rows = classProbabilities(output, i, std::min(frames, output.size[3]));
    read[static_cast<std::size_t>(i)] = decoder_.decode(rows.ptr<float>(), rows.rows);
  }
  return read;
}

cv::Mat TextLineReader::probabilities(const cv::Mat& lineImage) {
  network_.setInput(networkInput(lineImage));
  const cv::Mat output = network_.forward();  // logits, [1, classes, 1, frames]
  if (classCount(output) != decoder_.classCount()) return {};
  return classProbabilities(output);
}

std::size_t TextLineReader::classCount(const cv::Mat& logits) {
  if (logits.dims != 4 || logits.size[0] < 1 || logits.size[2] != 1) return 0;
  return static_cast<std::size_t>(logits.size[1]);
}

cv::Mat TextLineReader::classProbabilities(const cv::Mat& logits, int line, int frames) {
  const int classes = logits.size[1];
  const int allFrames = logits.size[3];
  CV_Assert(line >= 0 && line < logits.size[0] && frames >= 0 && frames <= allFrames);
  const cv::Mat lineLogits =
      logits.reshape(1, logits.size[0] * classes).rowRange(line * classes, (line + 1) * classes);
  cv::Mat probabilities;
  cv::transpose(lineLogits.colRange(0, frames == 0 ? allFrames : frames), probabilities);
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
