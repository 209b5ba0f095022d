#include "platform/image/image_header.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace brindlewox {

namespace {

using Bytes = std::span<const std::uint8_t>;

bool startsWith(Bytes bytes, std::size_t offset, const char* text) {
  const std::size_t length = std::strlen(text);
  return bytes.size() >= offset + length && std::memcmp(bytes.data() + offset, text, length) == 0;
}

std::uint32_t bigEndian(Bytes b, std::size_t at, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < count; ++i) value = (value << 8U) | b[at + i];
  return value;
}

std::uint32_t littleEndian(Bytes b, std::size_t at, std::size_t count) {
  std::uint32_t value = 0;
  for (std::size_t i = count; i > 0; --i) value = (value << 8U) | b[at + i - 1];
  return value;
}

std::optional<DeclaredSize> pngSize(Bytes b) {
  if (b.size() < 24 || !startsWith(b, 12, "IHDR")) return std::nullopt;
  return DeclaredSize{bigEndian(b, 16, 4), bigEndian(b, 20, 4)};
}

std::optional<DeclaredSize> jpegSize(Bytes b) {
  std::size_t i = 2;
  while (i + 4 <= b.size()) {
    if (b[i] != 0xFF) return std::nullopt;
    const std::uint8_t marker = b[i + 1];
    if (marker == 0xFF) {  // fill byte
      ++i;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {  // no length follows
      i += 2;
      continue;
    }
    const std::size_t length = bigEndian(b, i + 2, 2);
    const bool startOfFrame =
        marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (startOfFrame) {
      if (i + 9 > b.size()) return std::nullopt;
      return DeclaredSize{bigEndian(b, i + 7, 2), bigEndian(b, i + 5, 2)};
    }
    if (marker == 0xDA || marker == 0xD9 || length < 2)
      return std::nullopt;  // scan or end before any frame
    i += 2 + length;
  }
  return std::nullopt;
}

std::optional<DeclaredSize> bmpSize(Bytes b) {
  if (b.size() < 26) return std::nullopt;
  const std::uint32_t headerSize = littleEndian(b, 14, 4);
  if (headerSize == 12) return DeclaredSize{littleEndian(b, 18, 2), littleEndian(b, 20, 2)};
  // Height is signed: negative means rows run top down.
  const auto width = static_cast<std::int32_t>(littleEndian(b, 18, 4));
  const auto height = static_cast<std::int32_t>(littleEndian(b, 22, 4));
  return DeclaredSize{static_cast<std::uint64_t>(std::llabs(width)),
                      static_cast<std::uint64_t>(std::llabs(height))};
}

std::optional<DeclaredSize> webpSize(Bytes b) {
  if (startsWith(b, 12, "VP8 ") && b.size() >= 30) {
    if (b[23] != 0x9D || b[24] != 0x01 || b[25] != 0x2A) return std::nullopt;
    return DeclaredSize{littleEndian(b, 26, 2) & 0x3FFFU, littleEndian(b, 28, 2) & 0x3FFFU};
  }
  if (startsWith(b, 12, "VP8L") && b.size() >= 25) {
    if (b[20] != 0x2F) return std::nullopt;
    const std::uint32_t bits = littleEndian(b, 21, 4);
    return DeclaredSize{(bits & 0x3FFFU) + 1, ((bits >> 14U) & 0x3FFFU) + 1};
  }
  if (startsWith(b, 12, "VP8X") && b.size() >= 30) {
    return DeclaredSize{littleEndian(b, 24, 3) + std::uint64_t{1},
                        littleEndian(b, 27, 3) + std::uint64_t{1}};
  }
  return std::nullopt;
}

std::optional<DeclaredSize> tiffSize(Bytes b) {
  const bool little = b[0] == 'I';
  auto read = [&](std::size_t at, std::size_t count) {
    return little ? littleEndian(b, at, count) : bigEndian(b, at, count);
  };
  if (b.size() < 8) return std::nullopt;
  const std::size_t directory = read(4, 4);
  if (directory + 2 > b.size()) return std::nullopt;
  const std::size_t entries = read(directory, 2);
  std::optional<std::uint64_t> width;
  std::optional<std::uint64_t> height;
  for (std::size_t k = 0; k < entries; ++k) {
    const std::size_t entry = directory + 2 + 12 * k;
    if (entry + 12 > b.size()) return std::nullopt;
    const std::uint32_t tag = read(entry, 2);
    const std::uint32_t type = read(entry + 2, 2);
    if (tag != 256 && tag != 257) continue;
    std::uint64_t value = 0;
    if (type == 3) {
      value = read(entry + 8, 2);  // a SHORT sits at the start of the value field
    } else if (type == 4) {
      value = read(entry + 8, 4);
    } else {
      return std::nullopt;
    }
    (tag == 256 ? width : height) = value;
  }
  if (!width || !height) return std::nullopt;
  return DeclaredSize{*width, *height};
}

}  // namespace

ImageFormat imageFormat(Bytes b) {
  static constexpr std::array<std::uint8_t, 8> kPNG = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (b.size() >= kPNG.size() && std::memcmp(b.data(), kPNG.data(), kPNG.size()) == 0)
    return ImageFormat::png;
  if (b.size() >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return ImageFormat::jpeg;
  if (b.size() >= 4 && ((startsWith(b, 0, "II") && b[2] == 42 && b[3] == 0) ||
                        (startsWith(b, 0, "MM") && b[2] == 0 && b[3] == 42))) {
    return ImageFormat::tiff;
  }
  if (startsWith(b, 0, "BM")) return ImageFormat::bmp;
  if (startsWith(b, 0, "RIFF") && startsWith(b, 8, "WEBP")) return ImageFormat::webp;
  if (startsWith(b, 4, "ftyp")) return ImageFormat::heif;
  return ImageFormat::unknown;
}

std::optional<DeclaredSize> declaredSize(Bytes b) {
  switch (imageFormat(b)) {
    case ImageFormat::png:
      return pngSize(b);
    case ImageFormat::jpeg:
      return jpegSize(b);
    case ImageFormat::tiff:
      return tiffSize(b);
    case ImageFormat::bmp:
      return bmpSize(b);
    case ImageFormat::webp:
      return webpSize(b);
    case ImageFormat::heif:
    case ImageFormat::unknown:
      return std::nullopt;
  }
  return std::nullopt;
}

bool isUnacceptableSize(DeclaredSize size) {
  if (size.width == 0 || size.height == 0) return true;
  return size.width > kMaxImagePixels || size.height > kMaxImagePixels ||
         size.width * size.height > kMaxImagePixels;
}

}  // namespace brindlewox
