#include "pipeline/text_assembly.h"

#include <cmath>
#include <optional>
#include <string_view>

#include "pipeline/reading_order_sort.h"
#include "platform/text_services.h"

namespace brindlewox {

bool comesBefore(const TextObservation& a, const TextObservation& b) {
  const double centreA = a.box.midY();
  const double centreB = b.box.midY();
  if (std::fabs(centreA - centreB) > kSameLineTolerance) return centreA > centreB;
  return a.box.minX() < b.box.minX();
}

RecognizedText assembleText(std::vector<TextObservation> observations) {
  readingOrderSort(observations, comesBefore);

  std::string text;
  double confidenceSum = 0.0;
  std::size_t lineCount = 0;
  std::optional<double> previousBottom;
  for (const TextObservation& observation : observations) {
    if (!observation.best) continue;
    const std::string_view line = trimmed(observation.best->string, isWhitespaceOrNewline);
    if (line.empty()) continue;
    if (previousBottom) {
      text += '\n';
      if (*previousBottom - observation.box.maxY() > kParagraphGap) text += '\n';
    }
    text += line;
    confidenceSum += static_cast<double>(observation.best->confidence);
    ++lineCount;
    previousBottom = observation.box.minY();
  }
  return {text, lineCount == 0 ? 0.0 : confidenceSum / static_cast<double>(lineCount)};
}

}  // namespace brindlewox
