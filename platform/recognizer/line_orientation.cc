#include "platform/recognizer/line_orientation.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace brindlewox {

namespace {

constexpr int kHeight = 48;
constexpr int kWidth = 192;

}  // namespace

cv::Mat cellsSideBySide(const cv::Mat& column) {
  const double aspect = static_cast<double>(column.rows) / std::max(1, column.cols);
  const int cells = std::max(1, static_cast<int>(std::lround(aspect)));
  const int cellHeight = column.rows / cells;
  if (cellHeight < 1) return column.clone();
  std::vector<cv::Mat> row;
  for (int i = 0; i < cells; ++i)
    row.push_back(column.rowRange(i * cellHeight, (i + 1) * cellHeight));
  cv::Mat line;
  cv::hconcat(row, line);
  return line;
}

LineOrientation::LineOrientation(cv::dnn::Net network) : network_(std::move(network)) {}

float LineOrientation::upsideDown(const cv::Mat& lineImage) {
  const double aspect = static_cast<double>(lineImage.cols) / std::max(1, lineImage.rows);
  const int width = std::clamp(static_cast<int>(std::ceil(kHeight * aspect)), 1, kWidth);
  cv::Mat resized;
  cv::resize(lineImage, resized, cv::Size(width, kHeight), 0, 0, cv::INTER_LINEAR);
  cv::cvtColor(resized, resized, cv::COLOR_BGR2RGB);
  cv::Mat normalized;
  resized.convertTo(normalized, CV_32FC3, 2.0 / 255.0, -1.0);
  // The network was trained with zeros (mid grey) after a short line.
  cv::copyMakeBorder(normalized, normalized, 0, 0, 0, kWidth - width, cv::BORDER_CONSTANT,
                     cv::Scalar::all(0));
  network_.setInput(cv::dnn::blobFromImage(normalized));
  const cv::Mat output = network_.forward();  // [1, 2]: upright, upside down
  if (output.total() != 2) return 0;
  return output.ptr<float>()[1];
}

}  // namespace brindlewox
