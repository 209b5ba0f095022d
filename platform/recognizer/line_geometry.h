// Platform-internal: where a line's text lies on the page, as the reading
// order needs it. The detector's box is padded (its unclip distance grows
// with the line's height and length) and tilts with the page; the reading
// order compares left edges and heights, so each line reports the bounds of
// its own ink, in the frame of the page as if it had been scanned straight.
#pragma once

#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "platform/recognizer/text_detector.h"

namespace brindlewox {

// The bounds of the ink in an upright line crop, in crop pixels: the band of
// rows that holds most of the ink (a neighbour's descenders poking into the
// crop are left out) and the columns with ink in that band. Nothing when the
// crop holds no clear ink.
std::optional<cv::Rect> inkBounds(const cv::Mat& crop);

// The box grown on every side by `share` of its height, along its own axes.
Quad grown(const Quad& corners, double share);

// The bounds of a detected line's ink on `image`, given the box's upright
// crop (TextLineReader::uprightCrop), or the box itself when it
// holds no clear ink. Where the ink runs into a side of the box (the
// detector's box can fall short of large print), that side is looked for a
// little beyond the box; the other sides keep the box's own ink bounds, so a
// neighbouring cell or line close by does not pull them out.
Quad lineInk(const cv::Mat& image, const Quad& corners, const cv::Mat& crop);

// The quadrilateral on the image of a rectangle given in the pixels of a crop
// of `cropSize` cut out of `corners` (top-left, top-right, bottom-right,
// bottom-left; the crop not turned). The rectangle may reach beyond the crop.
Quad quadOfCropRect(const Quad& corners, cv::Size cropSize, const cv::Rect2d& rect);

// The angle of the page's text lines to the horizontal, in radians (positive
// when a line climbs to the right on screen, i.e. y falls), the median over
// lines at least three times as long as high; 0 when no line qualifies or
// the angle is beyond a scanner's skew (10 degrees).
double dominantTextAngle(const std::vector<Quad>& lines);

// The corners turned by `angle` about `centre`, so a line at that angle
// becomes level.
Quad levelled(const Quad& corners, double angle, cv::Point2f centre);

}  // namespace brindlewox
