#include "platform/recognizer/page_reading.h"

#include <algorithm>
#include <exception>
#include <numeric>
#include <utility>

#include <opencv2/imgproc.hpp>

#include "platform/recognizer/line_geometry.h"
#include "platform/recognizer/text_line_reader.h"

namespace brindlewox {

std::vector<std::size_t> widestFirst(const std::vector<Quad>& crops) {
  std::vector<double> aspect;
  for (const Quad& corners : crops) {
    const cv::Size size = TextLineReader::straightenedSize(corners);
    aspect.push_back(static_cast<double>(size.width) / size.height);
  }
  std::vector<std::size_t> order(crops.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return aspect[a] > aspect[b]; });
  return order;
}

std::vector<std::pair<std::size_t, std::size_t>> widthBatches(const std::vector<int>& widths,
                                                              const std::vector<bool>& alone,
                                                              const BatchLimits& limits) {
  std::vector<std::pair<std::size_t, std::size_t>> batches;
  std::size_t first = 0;
  while (first < widths.size()) {
    std::size_t end = first + 1;
    if (!alone[first]) {
      const int widest = widths[first];
      while (end < widths.size() && !alone[end] && end - first < limits.lines &&
             static_cast<long>(widest) * static_cast<long>(end - first + 1) <= limits.columns &&
             widest <= (1.0 + limits.padding) * widths[end]) {
        ++end;
      }
    }
    batches.emplace_back(first, end);
    first = end;
  }
  return batches;
}

DecodedLine readEitherWay(LineReader& reader, const cv::Mat& turnedLeft) {
  DecodedLine left = reader.read(turnedLeft);
  cv::Mat turnedRight;
  cv::rotate(turnedLeft, turnedRight, cv::ROTATE_180);
  DecodedLine right = reader.read(turnedRight);
  return right.confidence > left.confidence ? right : left;
}

PageReading::PageReading(const FoundLines& found, const std::vector<Quad>& crops,
                         std::vector<LineReader*> readers, const BatchLimits& limits)
    : found_(found),
      crops_(crops),
      readers_(std::move(readers)),
      order_(widestFirst(crops)),
      read_(crops.size()),
      ink_(crops.size()) {
  std::vector<int> widths;
  std::vector<bool> alone;
  for (const std::size_t i : order_) {
    // A vertical line is read both ways round: two forwards of its own.
    alone.push_back(TextLineReader::isVertical(crops_[i]));
    const cv::Size size = TextLineReader::straightenedSize(crops_[i]);
    widths.push_back(
        TextLineReader::networkWidth(alone.back() ? cv::Size(size.height, size.width) : size));
  }
  batches_ = widthBatches(widths, alone, limits);
  for (std::size_t reader = 1; reader < readers_.size() && reader < batches_.size(); ++reader) {
    helpers_.push_back(std::async(std::launch::async, [this, reader] { readShare(reader); }));
  }
}

PageReading::Lines PageReading::finish() {
  std::exception_ptr failure;
  try {
    readShare(0);
  } catch (...) {
    failure = std::current_exception();
    stop_ = true;
  }
  for (std::future<void>& helper : helpers_) {
    try {
      helper.get();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
  return {std::move(read_), std::move(ink_)};
}

void PageReading::readShare(std::size_t reader) {
  while (!stop_) {
    const std::size_t taken = next_++;
    if (taken >= batches_.size()) return;
    const auto [first, end] = batches_[taken];
    std::vector<cv::Mat> images;
    for (std::size_t k = first; k < end; ++k) {
      const std::size_t i = order_[k];
      images.push_back(TextLineReader::uprightCrop(found_.image, crops_[i]));
      ink_[i] = TextLineReader::isVertical(crops_[i])
                    ? crops_[i]
                    : lineInk(found_.image, crops_[i], images.back());
    }
    std::vector<DecodedLine> lines;
    if (end - first == 1 && TextLineReader::isVertical(crops_[order_[first]])) {
      lines.push_back(readEitherWay(*readers_[reader], images.front()));
    } else {
      lines = readers_[reader]->readAll(images);
    }
    for (std::size_t k = first; k < end && k - first < lines.size(); ++k) {
      read_[order_[k]] =
          TextCandidate{std::move(lines[k - first].text), lines[k - first].confidence};
    }
  }
}

}  // namespace brindlewox
