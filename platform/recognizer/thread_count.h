// Platform-internal: OpenCV's thread count set for a scope and restored on
// every way out of it. The engine gives each line reader one thread; the
// benchmarks time the networks the same way.
#pragma once

#include <opencv2/core/utility.hpp>

namespace brindlewox {

class ThreadCount {
 public:
  explicit ThreadCount(int count) : previous_(cv::getNumThreads()) { cv::setNumThreads(count); }
  ThreadCount(const ThreadCount&) = delete;
  ThreadCount& operator=(const ThreadCount&) = delete;
  ~ThreadCount() { cv::setNumThreads(previous_); }

 private:
  int previous_;
};

}  // namespace brindlewox
