// Platform-internal: what reads one line. The recogniser's network
// (TextLineReader) is one; tests put a fake in its place, so that the
// threaded reading of a page and the upright-turn decision are tried without
// any network.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "platform/recognizer/ctc_decoder.h"

namespace brindlewox {

class LineReader {
 public:
  virtual ~LineReader() = default;

  // The text of an upright line image (BGR) and its confidence. A reader is
  // used by one thread at a time.
  virtual DecodedLine read(const cv::Mat& lineImage) = 0;

  // Several upright lines of similar width, each read as read() would, in
  // their order. The network reads them in one forward; by default they are
  // read one by one.
  virtual std::vector<DecodedLine> readAll(const std::vector<cv::Mat>& lineImages) {
    std::vector<DecodedLine> lines;
    lines.reserve(lineImages.size());
    for (const cv::Mat& image : lineImages) lines.push_back(read(image));
    return lines;
  }

 protected:
  LineReader() = default;
  LineReader(const LineReader&) = default;
  LineReader(LineReader&&) = default;
  LineReader& operator=(const LineReader&) = default;
  LineReader& operator=(LineReader&&) = default;
};

}  // namespace brindlewox
