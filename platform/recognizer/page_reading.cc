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
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return aspect[a] > aspect[b]; });
  return order;
}

DecodedLine readEitherWay(LineReader& reader, const cv::Mat& turnedLeft) {
  DecodedLine left = reader.read(turnedLeft);
  cv::Mat turnedRight;
  cv::rotate(turnedLeft, turnedRight, cv::ROTATE_180);
  DecodedLine right = reader.read(turnedRight);
  return right.confidence > left.confidence ? right : left;
}

PageReading::PageReading(const FoundLines& found, const std::vector<Quad>& crops, std::vector<LineReader*> readers)
    : found_(found), crops_(crops), readers_(std::move(readers)), order_(widestFirst(crops)), read_(crops.size()),
      ink_(crops.size()) {
  for (std::size_t reader = 1; reader < readers_.size() && reader < crops_.size(); ++reader) {
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
    if (taken >= order_.size()) return;
    const std::size_t i = order_[taken];
    const cv::Mat crop = TextLineReader::uprightCrop(found_.image, crops_[i]);
    const bool vertical = TextLineReader::isVertical(crops_[i]);
    ink_[i] = vertical ? crops_[i] : lineInk(found_.image, crops_[i], crop);
    DecodedLine line = vertical ? readEitherWay(*readers_[reader], crop) : readers_[reader]->read(crop);
    read_[i] = TextCandidate{std::move(line.text), line.confidence};
  }
}

}  // namespace brindlewox
