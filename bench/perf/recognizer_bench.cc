// Prints, for each image, the time spent in text detection and in line
// recognition and the process's peak RSS; then the time of the first and of
// a warm whole-image recognition (the first includes loading the networks),
// wall and CPU seconds (all threads): the warm pass is what a page costs
// once a run's fixed cost is paid.
//
// usage: recognizer_bench IMAGE...
#include <sys/resource.h>

#include <cstdio>

#include "bench/bench_support.h"
#include "pipeline/text_recognition.h"
#include "platform/image/bitmap_pixels.h"
#include "platform/image/image_decoder.h"

namespace {

long peakRSSMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

// User and system seconds of every thread of this process so far.
double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brindlewox;
  using bench::Clock;
  using bench::secondsSince;
  if (argc < 2) {
    std::fprintf(stderr, "usage: recognizer_bench IMAGE...\n");
    return 2;
  }
  {
    const auto start = Clock::now();
    const double startCpu = cpuSeconds();
    const Result<Bitmap> image = imageFromFile(argv[1]);
    if (!image) return 1;
    if (!recognizeText(image.value())) return 1;
    const double first = secondsSince(start);
    const double firstCpu = cpuSeconds() - startCpu;
    const auto warmStart = Clock::now();
    const double warmStartCpu = cpuSeconds();
    if (!recognizeText(image.value())) return 1;
    std::printf(
        "whole image %s: first %.2f s, %.2f s CPU (networks loaded on first use), warm %.2f s, "
        "%.2f s CPU\n",
        argv[1], first, firstCpu, secondsSince(warmStart), cpuSeconds() - warmStartCpu);
  }

  std::optional<bench::Networks> networks = bench::loadNetworks();
  if (!networks) return 1;
  TextDetector& detector = networks->detector();
  TextLineReader& reader = networks->reader();

  std::printf("%-40s %10s %8s %12s %10s %10s %12s\n", "image", "size", "lines", "detect s",
              "read s", "columns", "peak RSS MB");
  for (int i = 1; i < argc; ++i) {
    const Result<Bitmap> image = imageFromFile(argv[i]);
    if (!image) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    const cv::Mat& bgr = image.value().pixels().bgr;
    const auto detectStart = Clock::now();
    const FoundLines found = findLines(detector, bgr);
    const std::vector<DetectedLine>& boxes = found.lines;
    const double detectSeconds = secondsSince(detectStart);
    const auto readStart = Clock::now();
    double columns = 0;  // the recognition network's work grows with the line widths at height 48
    for (const DetectedLine& box : boxes) {
      const cv::Mat crop = TextLineReader::uprightCrop(found.image, box.crop);
      columns += 48.0 * crop.cols / std::max(1, crop.rows);
      reader.read(crop);
    }
    const double readSeconds = secondsSince(readStart);
    const std::string size = std::to_string(bgr.cols) + "x" + std::to_string(bgr.rows);
    std::printf("%-40s %10s %8zu %12.3f %10.3f %10.0f %12ld\n", argv[i], size.c_str(), boxes.size(),
                detectSeconds, readSeconds, columns, peakRSSMegabytes());
  }
  return 0;
}
