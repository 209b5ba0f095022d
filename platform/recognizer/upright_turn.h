// Platform-internal: the recogniser's stage that decides how a page must be
// turned to stand upright, by the rules of page_orientation.h. The line
// classifier is asked on every page with lines running across; the sampled
// lines are read both ways only when it, or the lines' shapes, point away
// from upright. The classifier and the reader are passed in, so that the
// flow is tested with fakes.
#pragma once

#include <functional>
#include <vector>

#include <opencv2/core.hpp>

#include "platform/recognizer/line_reader.h"
#include "platform/recognizer/page_orientation.h"
#include "platform/recognizer/text_detector.h"

namespace brindlewox {

// The probability that an upright line image is upside down.
using UpsideDownTest = std::function<float(const cv::Mat& lineImage)>;

// The turn that brings the page in `image` upright, from its chosen lines.
PageTurn uprightTurn(const cv::Mat& image, const std::vector<Quad>& crops,
                     const UpsideDownTest& upsideDown, LineReader& reader);

}  // namespace brindlewox
