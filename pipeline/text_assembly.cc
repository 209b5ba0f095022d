#include "pipeline/text_assembly.h"

#include <optional>
#include <string_view>

#include "pipeline/reading_order.h"
#include "services/text_services.h"

namespace brindlewox {

RecognizedText assembleText(const std::vector<TextObservation>& observations, double pageAspect) {
  // Only pieces with text take part in the layout: an empty box the detector
  // found in a gutter must not join the columns beside it.
  std::vector<TextObservation> usable;
  std::vector<std::string_view> lines;
  for (const TextObservation& observation : observations) {
    if (!observation.best) continue;
    const std::string_view line = trimmed(observation.best->string, isWhitespaceOrNewline);
    if (line.empty()) continue;
    usable.push_back(observation);
    lines.push_back(line);
  }

  std::string text;
  double confidenceSum = 0.0;
  std::optional<double> previousBottom;
  for (const std::size_t i : readingOrder(usable, pageAspect)) {
    const TextObservation& observation = usable[i];
    if (previousBottom) {
      text += '\n';
      if (*previousBottom - observation.box.maxY() > kParagraphGap) text += '\n';
    }
    text += lines[i];
    confidenceSum += static_cast<double>(observation.best->confidence);
    previousBottom = observation.box.minY();
  }
  return {text, usable.empty() ? 0.0 : confidenceSum / static_cast<double>(usable.size())};
}

}  // namespace brindlewox
