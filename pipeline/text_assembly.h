// Text assembly turns the recogniser's observations into a page's text: it
// drops those without usable text, puts the rest in reading order,
// separates paragraphs with an empty line and averages the line confidences.
#pragma once

#include <string>
#include <vector>

#include "platform/recognizer/text_observation.h"

namespace brindlewox {

inline constexpr double kParagraphGap = 0.045;

struct RecognizedText {
  std::string text;         // lines joined by "\n"; "" when nothing was read
  double confidence = 0.0;  // mean over the text lines; 0 with no line
};

// `pageAspect` is the page's width over its height (see readingOrder).
RecognizedText assembleText(const std::vector<TextObservation>& observations, double pageAspect);

}  // namespace brindlewox
