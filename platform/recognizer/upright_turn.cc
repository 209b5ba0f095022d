#include "platform/recognizer/upright_turn.h"

#include <opencv2/imgproc.hpp>

#include "platform/recognizer/line_orientation.h"
#include "platform/recognizer/text_line_reader.h"

namespace brindlewox {

namespace {

// The longest lines the classifier looks at, and the fewer read both ways.
constexpr std::size_t kOrientationSample = 8;
constexpr std::size_t kReadingSample = 5;

cv::Mat turned(const cv::Mat& image, cv::RotateFlags rotation) {
  cv::Mat result;
  cv::rotate(image, result, rotation);
  return result;
}

// The sample read as `shown` shows each crop: the mean confidence, each
// line weighted by its length.
template <typename Shown>
double meanConfidence(LineReader& reader, const std::vector<cv::Mat>& sample, Shown shown) {
  double sum = 0;
  double weights = 0;
  for (const cv::Mat& crop : sample) {
    const auto weight = static_cast<double>(crop.cols);
    sum += weight * reader.read(shown(crop)).confidence;
    weights += weight;
  }
  return weights > 0 ? sum / weights : 0;
}

}  // namespace

PageTurn uprightTurn(const cv::Mat& image, const std::vector<Quad>& crops,
                     const UpsideDownTest& upsideDown, LineReader& reader) {
  std::vector<LineShape> shapes;
  for (const Quad& corners : crops) {
    const cv::Size size = TextLineReader::straightenedSize(corners);
    shapes.push_back({static_cast<double>(size.width), static_cast<double>(size.height)});
  }
  const bool sideways = mostlySideways(shapes);
  std::vector<cv::Mat> sample;
  for (const std::size_t i : sampleLines(shapes, sideways, kOrientationSample)) {
    sample.push_back(TextLineReader::uprightCrop(image, crops[i]));
  }
  if (sample.empty()) return PageTurn::none;
  if (!sideways) {
    std::vector<float> verdicts;
    for (const cv::Mat& crop : sample) verdicts.push_back(upsideDown(crop));
    if (!classifierSaysUpsideDown(verdicts)) return PageTurn::none;
  }
  if (sample.size() > kReadingSample) sample.resize(kReadingSample);
  const auto asCut = [](const cv::Mat& crop) { return crop; };
  const auto halfTurned = [](const cv::Mat& crop) { return turned(crop, cv::ROTATE_180); };
  const SampleReading reading{meanConfidence(reader, sample, asCut),
                              meanConfidence(reader, sample, halfTurned)};
  const PageTurn turn = turnFromReadings(reading, sideways);
  // Columns of vertical CJK text read well turned to the left too, but
  // their characters stand upright on the page: such a page stays as it is.
  if (turn == PageTurn::counterClockwise) {
    const double cells = meanConfidence(reader, sample, [](const cv::Mat& crop) {
      return cellsSideBySide(turned(crop, cv::ROTATE_90_CLOCKWISE));
    });
    if (uprightCharacters(cells)) return PageTurn::none;
  }
  return turn;
}

}  // namespace brindlewox
