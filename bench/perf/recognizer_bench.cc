// Prints, for each image, the time spent in text detection and in line
// recognition and the process's peak RSS; then the time of the first and of
// a warm whole-image recognition (the first includes loading the networks).
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
    const Result<Bitmap> image = imageFromFile(argv[1]);
    if (!image) return 1;
    if (!recognizeText(image.value())) return 1;
    const double first = secondsSince(start);
    const auto warmStart = Clock::now();
    if (!recognizeText(image.value())) return 1;
    std::printf("whole image %s: first %.2f s (networks loaded on first use), warm %.2f s\n",
                argv[1], first, secondsSince(warmStart));
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
