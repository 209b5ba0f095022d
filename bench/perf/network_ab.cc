// Times the forward of two prepared graphs of one network interleaved, so
// that both see the same machine load: for measuring a change to the graph
// preparation or to our layers. Also prints the largest difference between
// their outputs on the same input.
//
// usage: network_ab GRAPH_A.onnx GRAPH_B.onnx HEIGHT WIDTH [ROUNDS] [THREADS]
// e.g.   network_ab before/ppocrv4_det_opencv.onnx build/models/ppocrv4_det_opencv.onnx 1280 992
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>

#include "bench/bench_support.h"
#include "platform/recognizer/network_layers.h"

namespace {

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brindlewox;
  using bench::Clock;
  using bench::secondsSince;
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: network_ab GRAPH_A.onnx GRAPH_B.onnx HEIGHT WIDTH [ROUNDS] [THREADS]\n");
    return 2;
  }
  const int height = std::atoi(argv[3]);
  const int width = std::atoi(argv[4]);
  const int rounds = argc > 5 ? std::atoi(argv[5]) : 10;
  if (argc > 6) cv::setNumThreads(std::atoi(argv[6]));
  cv::dnn::Net networks[2] = {readNetwork(argv[1]), readNetwork(argv[2])};
  // A smooth input with some structure, the same for both.
  cv::Mat input(std::vector<int>{1, 3, height, width}, CV_32F);
  cv::RNG(1).fill(input, cv::RNG::UNIFORM, -2.0, 2.0);
  cv::Mat outputs[2];
  for (int i = 0; i < 2; ++i) {  // the first forward sets the network up for this size
    networks[i].setInput(input);
    outputs[i] = networks[i].forward().clone();
  }
  std::vector<double> seconds[2];
  for (int round = 0; round < rounds; ++round) {
    for (int i = 0; i < 2; ++i) {
      const int which = round % 2 == 0 ? i : 1 - i;  // alternate which goes first
      const auto start = Clock::now();
      networks[which].setInput(input);
      networks[which].forward();
      seconds[which].push_back(secondsSince(start));
    }
  }
  double difference = 0;
  cv::minMaxLoc(cv::abs(outputs[0].reshape(1, 1) - outputs[1].reshape(1, 1)), nullptr, &difference);
  std::printf("input %dx%d, %d OpenCV thread(s), %d rounds interleaved\n", width, height,
              cv::getNumThreads(), rounds);
  std::printf("  A %s: median %.4f s, best %.4f s\n", argv[1], median(seconds[0]),
              *std::min_element(seconds[0].begin(), seconds[0].end()));
  std::printf("  B %s: median %.4f s, best %.4f s\n", argv[2], median(seconds[1]),
              *std::min_element(seconds[1].begin(), seconds[1].end()));
  std::printf("  B / A (medians) %.3f; largest output difference %.3g\n",
              median(seconds[1]) / median(seconds[0]), difference);
  return 0;
}
