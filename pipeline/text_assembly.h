// Text assembly turns the recogniser's observations into a page's text: it
// puts them in reading order, drops those without usable text, separates
// paragraphs with an empty line and averages the line confidences.
#pragma once

#include <string>
#include <vector>

#include "platform/text_observation.h"

namespace brindlewox {

inline constexpr double kSameLineTolerance = 0.018;
inline constexpr double kParagraphGap = 0.045;

struct RecognizedText {
  std::string text;         // lines joined by "\n"; "" when nothing was read
  double confidence = 0.0;  // mean over the text lines; 0 with no line
};

// Higher first; among observations whose centres lie within the tolerance,
// the one further left first. Not transitive on dense pages.
bool comesBefore(const TextObservation& a, const TextObservation& b);

RecognizedText assembleText(std::vector<TextObservation> observations);

}  // namespace brindlewox
