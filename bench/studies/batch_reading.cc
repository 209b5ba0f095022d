// Reading a page's lines one to a forward against several to a forward
// (lines of similar width batched as the reading stage batches them), on one
// reader and one thread, interleaved round by round so that both see the same
// load: forwards, seconds (median of the rounds), and the lines whose text
// or confidence differs between the two.
//
// usage: batch_reading [--rounds N] [--lines N] PAGE...   (images, or a PDF's first page;
// at most N lines a batch, 8 unless told, padded by at most 15%)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "pipeline/page_rendering.h"
#include "platform/image/bitmap_pixels.h"
#include "platform/image/image_decoder.h"
#include "platform/pdf/pdf_document.h"
#include "platform/recognizer/line_boxes.h"
#include "platform/recognizer/line_finder.h"
#include "platform/recognizer/page_reading.h"
#include "platform/recognizer/thread_count.h"

namespace {

using namespace brindlewox;
using bench::Clock;
using bench::secondsSince;

using bench::loadPage;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 3;
  int first = 1;
  BatchLimits limits{0.15, 8, 4096};
  while (first + 1 < argc && argv[first][0] == '-') {
    if (std::strcmp(argv[first], "--rounds") == 0) {
      rounds = std::max(1, std::atoi(argv[first + 1]));
    } else if (std::strcmp(argv[first], "--lines") == 0) {
      limits.lines = static_cast<std::size_t>(std::max(1, std::atoi(argv[first + 1])));
    } else {
      break;
    }
    first += 2;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: batch_reading [--rounds N] [--lines N] PAGE...\n");
    return 2;
  }
  std::optional<bench::Networks> networks = bench::loadNetworks();
  if (!networks) return 1;
  TextLineReader& reader = networks->reader();
  const ThreadCount oneThread(1);
  std::printf("%-44s %6s %9s %9s %9s %9s %6s %8s %9s\n", "page", "lines", "fwd alone", "fwd batch",
              "s alone", "s batch", "ratio", "text ≠", "max Δconf");
  double totalAlone = 0;
  double totalBatched = 0;
  for (int arg = first; arg < argc; ++arg) {
    const std::optional<cv::Mat> page = loadPage(argv[arg]);
    if (!page) {
      std::fprintf(stderr, "cannot read %s\n", argv[arg]);
      return 1;
    }
    const FoundLines found = findLines(networks->detector(), *page);
    const std::vector<Quad> chosen = chooseLines(found, page->size());
    const std::vector<std::size_t> order = widestFirst(chosen);
    std::vector<cv::Mat> crops;
    std::vector<int> widths;
    for (const std::size_t i : order) {
      crops.push_back(TextLineReader::uprightCrop(found.image, chosen[i]));
      widths.push_back(TextLineReader::networkWidth(crops.back().size()));
    }
    // Vertical lines go alone in the tool; here every line is read once as it stands.
    const auto batches = widthBatches(widths, std::vector<bool>(widths.size(), false), limits);
    std::vector<double> aloneTimes;
    std::vector<double> batchedTimes;
    std::vector<DecodedLine> alone;
    std::vector<DecodedLine> batched;
    for (int round = 0; round < rounds; ++round) {
      auto start = Clock::now();
      alone.clear();
      for (const cv::Mat& crop : crops) alone.push_back(reader.read(crop));
      aloneTimes.push_back(secondsSince(start));
      start = Clock::now();
      batched.clear();
      for (const auto& [begin, end] : batches) {
        const std::vector<cv::Mat> group(crops.begin() + static_cast<std::ptrdiff_t>(begin),
                                         crops.begin() + static_cast<std::ptrdiff_t>(end));
        for (DecodedLine& line : reader.readAll(group)) batched.push_back(std::move(line));
      }
      batchedTimes.push_back(secondsSince(start));
    }
    int differing = 0;
    double largestShift = 0;
    for (std::size_t i = 0; i < alone.size(); ++i) {
      if (alone[i].text != batched[i].text) ++differing;
      largestShift =
          std::max(largestShift,
                   static_cast<double>(std::fabs(alone[i].confidence - batched[i].confidence)));
    }
    const double a = median(aloneTimes);
    const double b = median(batchedTimes);
    totalAlone += a;
    totalBatched += b;
    std::string name = argv[arg];
    if (name.size() > 44) name = "..." + name.substr(name.size() - 41);
    std::printf("%-44s %6zu %9zu %9zu %9.3f %9.3f %6.2f %8d %9.4f\n", name.c_str(), crops.size(),
                crops.size(), batches.size(), a, b, b / a, differing, largestShift);
  }
  std::printf(
      "total: alone %.3f s, batched %.3f s, ratio %.3f (median of %d interleaved rounds per page, "
      "one thread)\n",
      totalAlone, totalBatched, totalBatched / totalAlone, rounds);
  return 0;
}
