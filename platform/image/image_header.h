// Reads just enough of an image file to know its format and the pixel size
// its header declares, so that an image too large to hold is refused before
// any decoder allocates for it. Plain bytes in, no decoder involved.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace brindlewox {

enum class ImageFormat { png, jpeg, tiff, bmp, webp, heif, unknown };

struct DeclaredSize {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
};

// Beyond this many pixels (1 GiB as RGBA) an image is refused unread.
inline constexpr std::uint64_t kMaxImagePixels = std::uint64_t{1} << 28;

ImageFormat imageFormat(std::span<const std::uint8_t> bytes);

// The size the header declares; absent when the header is cut short or
// malformed (and for HEIF, whose size libheif reports).
std::optional<DeclaredSize> declaredSize(std::span<const std::uint8_t> bytes);

// True for a size with no pixels or more than kMaxImagePixels.
bool isUnacceptableSize(DeclaredSize size);

}  // namespace brindlewox
