// Platform-internal: what reads one line. The recogniser's network
// (TextLineReader) is one; tests put a fake in its place, so that the
// threaded reading of a page and the upright-turn decision are tried without
// any network.
#pragma once

#include <opencv2/core.hpp>

#include "platform/recognizer/ctc_decoder.h"

namespace brindlewox {

class LineReader {
 public:
  virtual ~LineReader() = default;

  // The text of an upright line image (BGR) and its confidence. A reader is
  // used by one thread at a time.
  virtual DecodedLine read(const cv::Mat& lineImage) = 0;

 protected:
  LineReader() = default;
  LineReader(const LineReader&) = default;
  LineReader(LineReader&&) = default;
  LineReader& operator=(const LineReader&) = default;
  LineReader& operator=(LineReader&&) = default;
};

}  // namespace brindlewox
