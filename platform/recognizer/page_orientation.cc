#include "platform/recognizer/page_orientation.h"

#include <algorithm>
#include <numeric>

namespace brindlewox {

namespace {

// As the line reader decides which lines are vertical.
constexpr double kTallAspect = 1.5;
// A line runs clearly one way when its long side is at least this many
// times its short one; near-square boxes (a word of two letters, a lone
// CJK character) say nothing about the page's direction.
constexpr double kClearAspect = 1.5;
constexpr double kSidewaysShare = 0.6;

// Most sampled lines upside down, and on average clearly so.
constexpr double kUpsideDownVotes = 0.5;
constexpr double kUpsideDownMean = 0.6;

// A turned reading must beat the other by this much mean confidence, and
// reach the second figure itself. Upside-down text reads at 0.1 to 0.5, the
// same lines upright at 0.6 (long receipt lines) to 0.99 (clean print).
constexpr double kClearlyBetter = 0.15;
constexpr double kReadsWell = 0.5;

// Columns of vertical Chinese cut into cells read at about 0.8; a sideways
// page's lines cut the same way at under 0.1 (Chinese) or about 0.4 (English).
constexpr double kUprightCharacters = 0.6;

double length(const LineShape& line) {
  return std::max(line.width, line.height);
}

bool runsClearly(const LineShape& line) {
  return std::max(line.width, line.height) >= kClearAspect * std::min(line.width, line.height);
}

}  // namespace

bool isTall(const LineShape& line) {
  return line.height >= kTallAspect * line.width;
}

bool mostlySideways(const std::vector<LineShape>& lines) {
  double tall = 0;
  double all = 0;
  for (const LineShape& line : lines) {
    if (!runsClearly(line)) continue;
    all += length(line);
    if (isTall(line)) tall += length(line);
  }
  return all > 0 && tall >= kSidewaysShare * all;
}

std::vector<std::size_t> sampleLines(const std::vector<LineShape>& lines, bool sideways,
                                     std::size_t count) {
  std::vector<std::size_t> chosen;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (runsClearly(lines[i]) && isTall(lines[i]) == sideways) chosen.push_back(i);
  }
  std::stable_sort(chosen.begin(), chosen.end(), [&](std::size_t a, std::size_t b) {
    return length(lines[a]) > length(lines[b]);
  });
  if (chosen.size() > count) chosen.resize(count);
  return chosen;
}

bool classifierSaysUpsideDown(const std::vector<float>& upsideDown) {
  if (upsideDown.empty()) return false;
  const auto votes =
      std::count_if(upsideDown.begin(), upsideDown.end(), [](float p) { return p > 0.5F; });
  const double count = static_cast<double>(upsideDown.size());
  const double mean = std::accumulate(upsideDown.begin(), upsideDown.end(), 0.0) / count;
  return static_cast<double>(votes) > kUpsideDownVotes * count && mean >= kUpsideDownMean;
}

PageTurn turnFromReadings(const SampleReading& reading, bool sideways) {
  const bool turnedIsBetter =
      reading.turned >= reading.asCut + kClearlyBetter && reading.turned >= kReadsWell;
  if (!sideways) return turnedIsBetter ? PageTurn::half : PageTurn::none;
  if (turnedIsBetter) return PageTurn::clockwise;
  const bool asCutIsBetter =
      reading.asCut >= reading.turned + kClearlyBetter && reading.asCut >= kReadsWell;
  return asCutIsBetter ? PageTurn::counterClockwise : PageTurn::none;
}

bool uprightCharacters(double cellsReading) {
  return cellsReading >= kUprightCharacters;
}

}  // namespace brindlewox
