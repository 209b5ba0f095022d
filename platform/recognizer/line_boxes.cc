#include "platform/recognizer/line_boxes.h"

#include <algorithm>
#include <utility>

#include "platform/recognizer/line_geometry.h"
#include "platform/recognizer/text_line_reader.h"

namespace brindlewox {

namespace {

// A box in image pixels, y down.
struct PixelBox {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
};

// The bounds of a box found on the bitmap laid on a margin, in the bitmap's
// own pixels: moved back by the margin and clipped to the bitmap.
PixelBox boundsInBitmap(const Quad& corners, int margin, cv::Size size) {
  PixelBox box{corners[0].x, corners[0].y, corners[0].x, corners[0].y};
  for (const cv::Point2f& p : corners) {
    box.left = std::min<double>(box.left, p.x);
    box.right = std::max<double>(box.right, p.x);
    box.top = std::min<double>(box.top, p.y);
    box.bottom = std::max<double>(box.bottom, p.y);
  }
  const auto width = static_cast<double>(size.width);
  const auto height = static_cast<double>(size.height);
  return {std::clamp(box.left - margin, 0.0, width), std::clamp(box.top - margin, 0.0, height),
          std::clamp(box.right - margin, 0.0, width), std::clamp(box.bottom - margin, 0.0, height)};
}

// Pixel bounds normalised to the unit square, origin at the lower left.
NormalizedBox normalized(const PixelBox& box, cv::Size size) {
  const auto width = static_cast<double>(size.width);
  const auto height = static_cast<double>(size.height);
  return {box.left / width, 1.0 - box.bottom / height, (box.right - box.left) / width,
          (box.bottom - box.top) / height};
}

}  // namespace

std::vector<Quad> chooseLines(const FoundLines& found, cv::Size size) {
  std::vector<Quad> crops;
  for (const DetectedLine& line : found.lines) {
    // A box wholly in the margin has no width or height left.
    const NormalizedBox box = normalized(boundsInBitmap(line.crop, found.margin, size), size);
    if (box.width <= 0 || box.height < kMinimumTextHeight) continue;
    crops.push_back(line.crop);
  }
  return crops;
}

std::vector<TextObservation> levelledObservations(const std::vector<Quad>& crops,
                                                  const std::vector<Quad>& ink,
                                                  std::vector<TextCandidate> read, int margin,
                                                  cv::Size size) {
  const double angle = dominantTextAngle(crops);
  const cv::Point2f centre(static_cast<float>(size.width) / 2 + static_cast<float>(margin),
                           static_cast<float>(size.height) / 2 + static_cast<float>(margin));
  std::vector<TextObservation> observations;
  observations.reserve(ink.size());
  for (std::size_t i = 0; i < ink.size(); ++i) {
    const PixelBox box = boundsInBitmap(levelled(ink[i], angle, centre), margin, size);
    observations.push_back(
        {normalized(box, size), std::move(read[i]), TextLineReader::isVertical(crops[i])});
  }
  return observations;
}

}  // namespace brindlewox
