// Platform-internal: where the lines found on a page lie, as the rest of the
// tool sees them. Two stages of the recogniser: choosing the lines worth
// reading, and reporting each line read as an observation whose box is the
// line's ink, levelled with the page's text.
#pragma once

#include <vector>

#include <opencv2/core.hpp>

#include "platform/recognizer/line_finder.h"
#include "platform/recognizer/text_observation.h"

namespace brindlewox {

// Lines lower than this share of the image height are not read.
inline constexpr double kMinimumTextHeight = 0.006;

// The crops of the lines worth reading, in the detector's order: a box that
// lies wholly in the margin, or is lower than kMinimumTextHeight, is left out.
std::vector<Quad> chooseLines(const FoundLines& found, cv::Size size);

// The observations of lines read, in the detector's order: `crops` are the
// chosen lines, `ink` the ink of each (what TextLineReader read), `read` its
// text. Each box is the line's ink bounds, turned level with the page's text
// when the page was scanned a little askew, moved back from the margin,
// clipped to the bitmap of `size` and normalised to it.
std::vector<TextObservation> levelledObservations(const std::vector<Quad>& crops,
                                                  const std::vector<Quad>& ink,
                                                  std::vector<TextCandidate> read, int margin,
                                                  cv::Size size);

}  // namespace brindlewox
