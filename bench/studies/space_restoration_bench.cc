// Word error on English pages with and without restoring the spaces that
// the recognition network leaves out between tightly set words. Each IMAGE
// needs its ground truth in IMAGE.txt, one line of text per line.
//
// usage: space_restoration_bench IMAGE...
#include <cstdio>
#include <fstream>
#include <sstream>

#include "bench/bench_support.h"
#include "pipeline/text_assembly.h"
#include "platform/image/bitmap_pixels.h"
#include "platform/image/image_decoder.h"
#include "platform/recognizer/network_layers.h"

namespace {

std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

std::size_t editDistance(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<std::size_t> previous(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::vector<std::size_t> current(b.size() + 1);
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      current[j] = std::min(
          {previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (a[i - 1] != b[j - 1] ? 1 : 0)});
    }
    previous = current;
  }
  return previous[b.size()];
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brindlewox;
  std::optional<bench::Networks> networks = bench::loadNetworks();
  if (!networks) return 1;
  TextLineReader withoutRestoration(readNetwork(networks->paths.recognition),
                                    CTCDecoder(networks->dictionary, false));

  std::size_t truthWords = 0, errorsWith = 0, errorsWithout = 0;
  for (int i = 1; i < argc; ++i) {
    const Result<Bitmap> image = imageFromFile(argv[i]);
    if (!image) return 1;
    std::ifstream truthFile(std::string(argv[i]) + ".txt");
    std::stringstream truth;
    truth << truthFile.rdbuf();
    const cv::Mat& bgr = image.value().pixels().bgr;
    std::vector<TextObservation> with, without;
    const FoundLines found = findLines(networks->detector(), bgr);
    for (const DetectedLine& box : found.lines) {
      const cv::Mat crop = TextLineReader::uprightCrop(found.image, box.crop);
      const NormalizedBox normalized = normalizedBounds(box.crop, found.image.size());
      const DecodedLine on = networks->reader().read(crop);
      const DecodedLine off = withoutRestoration.read(crop);
      with.push_back({normalized, TextCandidate{on.text, on.confidence}});
      without.push_back({normalized, TextCandidate{off.text, off.confidence}});
    }
    const std::vector<std::string> expected = words(truth.str());
    const double aspect = static_cast<double>(bgr.cols) / static_cast<double>(bgr.rows);
    const std::size_t on = editDistance(expected, words(assembleText(with, aspect).text));
    const std::size_t off = editDistance(expected, words(assembleText(without, aspect).text));
    std::printf("%-40s words %5zu  word error with restoration %.4f, without %.4f\n", argv[i],
                expected.size(), static_cast<double>(on) / static_cast<double>(expected.size()),
                static_cast<double>(off) / static_cast<double>(expected.size()));
    truthWords += expected.size();
    errorsWith += on;
    errorsWithout += off;
  }
  std::printf("all pages: word error with restoration %.4f, without %.4f\n",
              static_cast<double>(errorsWith) / static_cast<double>(truthWords),
              static_cast<double>(errorsWithout) / static_cast<double>(truthWords));
  return 0;
}
