// Bitmap is the immutable raster handed from page rendering or image loading
// to text recognition: 8-bit colour, already composited onto opaque white.
// It owns its pixels; moving it hands them on, destroying it frees them.
#pragma once

#include <memory>
#include <utility>

namespace brindlewox {

class Bitmap {
 public:
  struct Pixels;  // defined inside the platform layer only

  explicit Bitmap(std::unique_ptr<Pixels> pixels);
  Bitmap(Bitmap&&) noexcept;
  Bitmap& operator=(Bitmap&&) noexcept;
  ~Bitmap();

  int width() const;
  int height() const;
  const Pixels& pixels() const { return *pixels_; }

  // Keeps `owner` (memory the pixels lie in, such as a mapping) for as long
  // as the pixels.
  void keepAlive(std::shared_ptr<void> owner) { owner_ = std::move(owner); }

 private:
  // Declared before the pixels, so that it is released after them.
  std::shared_ptr<void> owner_;
  std::unique_ptr<Pixels> pixels_;
};

}  // namespace brindlewox
