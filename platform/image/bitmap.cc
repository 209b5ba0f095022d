#include "platform/image/bitmap.h"

#include <utility>

#include "platform/image/bitmap_pixels.h"

namespace brindlewox {

Bitmap::Bitmap(std::unique_ptr<Pixels> pixels) : pixels_(std::move(pixels)) {}
Bitmap::Bitmap(Bitmap&&) noexcept = default;
Bitmap& Bitmap::operator=(Bitmap&&) noexcept = default;
Bitmap::~Bitmap() = default;

int Bitmap::width() const {
  return pixels_->bgr.cols;
}
int Bitmap::height() const {
  return pixels_->bgr.rows;
}

Bitmap makeBitmap(cv::Mat bgr) {
  return Bitmap(std::make_unique<Bitmap::Pixels>(Bitmap::Pixels{std::move(bgr)}));
}

}  // namespace brindlewox

namespace brindlewox {

bool copyPixels(const Bitmap& bitmap, std::uint8_t* bgr) {
  const cv::Mat& source = bitmap.pixels().bgr;
  if (source.type() != CV_8UC3) return false;
  cv::Mat destination(source.rows, source.cols, CV_8UC3, bgr);
  source.copyTo(destination);
  return true;
}

}  // namespace brindlewox
