// platform/image/ is the image side: bitmaps (bitmap.h), the format told from
// a file's first bytes (image_header.h), and decoding here.
//
// Decodes an image file into a Bitmap: by the file's content, not its name.
// PNG, JPEG, TIFF (first page), BMP and WebP go through OpenCV's codecs,
// HEIF/HEIC through libheif. Orientation tags are applied and transparency is
// composited onto white, so the recogniser always sees upright dark-on-light.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "document/result.h"
#include "platform/image/bitmap.h"
#include "services/unique_fd.h"

namespace brindlewox {

// Larger files are not images anyone photographs or scans.
inline constexpr long long kMaxImageFileBytes = 512LL << 20;

// The whole of an open image file; absent for anything but a regular file of
// at most kMaxImageFileBytes, or when it cannot be read.
std::optional<std::vector<std::uint8_t>> readImageBytes(const UniqueFd& file);

// Fails with unreadableInput for anything that does not decode.
Result<Bitmap> imageFromFile(const std::string& path);

// The same for a file's contents already in memory.
Result<Bitmap> imageFromBytes(const std::vector<std::uint8_t>& bytes);

}  // namespace brindlewox
