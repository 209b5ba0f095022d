#include "platform/image/image_header.h"

#include <gtest/gtest.h>

#include <vector>

namespace brindlewox {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& b, std::size_t at, std::uint64_t value, std::size_t count, bool bigEndian) {
  if (b.size() < at + count) b.resize(at + count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t shift = 8 * (bigEndian ? count - 1 - i : i);
    b[at + i] = static_cast<std::uint8_t>(value >> shift);
  }
}

// The literal's bytes, embedded NULs included.
template <std::size_t N>
Bytes text(const char (&s)[N]) {
  return Bytes(s, s + N - 1);
}

Bytes png(std::uint32_t width, std::uint32_t height) {
  Bytes b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  put(b, 16, width, 4, true);
  put(b, 20, height, 4, true);
  return b;
}

TEST(ImageHeader, RecognisesTheAcceptedFormatsByContent) {
  EXPECT_EQ(imageFormat(png(1, 1)), ImageFormat::png);
  EXPECT_EQ(imageFormat(Bytes{0xFF, 0xD8, 0xFF, 0xE0}), ImageFormat::jpeg);
  EXPECT_EQ(imageFormat(Bytes{'I', 'I', 42, 0}), ImageFormat::tiff);
  EXPECT_EQ(imageFormat(Bytes{'M', 'M', 0, 42}), ImageFormat::tiff);
  EXPECT_EQ(imageFormat(text("BM")), ImageFormat::bmp);
  EXPECT_EQ(imageFormat(text("RIFF\x10\0\0\0WEBPVP8 ")), ImageFormat::webp);
  EXPECT_EQ(imageFormat(text("\0\0\0\x18"
                             "ftypheic")),
            ImageFormat::heif);
  for (const Bytes& other :
       {text("GIF89a"), text("P6\n1 1\n255\n"), text("%PDF-1.4"), Bytes{}, Bytes{0x89}}) {
    EXPECT_EQ(imageFormat(other), ImageFormat::unknown);
  }
}

TEST(ImageHeader, ReadsDeclaredSizes) {
  const auto expectSize = [](const Bytes& b, std::uint64_t w, std::uint64_t h) {
    const std::optional<DeclaredSize> size = declaredSize(b);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->width, w);
    EXPECT_EQ(size->height, h);
  };
  expectSize(png(100000, 100000), 100000, 100000);

  // JPEG: an APP0 segment, then a baseline frame header.
  Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00, 0xFF, 0xC0, 0x00, 0x11, 0x08};
  put(jpeg, 13, 480, 2, true);  // height
  put(jpeg, 15, 640, 2, true);  // width
  expectSize(jpeg, 640, 480);

  Bytes bmp = text("BM");
  put(bmp, 14, 40, 4, false);
  put(bmp, 18, 300, 4, false);
  put(bmp, 22, static_cast<std::uint32_t>(-200), 4, false);  // top-down rows
  expectSize(bmp, 300, 200);

  Bytes lossless = text("RIFF\0\0\0\0WEBPVP8L\0\0\0\0");
  lossless.push_back(0x2F);
  put(lossless, 21, (799U) | (599U << 14U), 4, false);
  expectSize(lossless, 800, 600);
  Bytes extended = text("RIFF\0\0\0\0WEBPVP8X\0\0\0\0\0\0\0\0");
  put(extended, 24, 16383, 3, false);
  put(extended, 27, 99, 3, false);
  expectSize(extended, 16384, 100);

  for (const bool big : {false, true}) {
    Bytes tiff = big ? Bytes{'M', 'M', 0, 42} : Bytes{'I', 'I', 42, 0};
    put(tiff, 4, 8, 4, big);
    put(tiff, 8, 2, 2, big);
    put(tiff, 10, 256, 2, big);  // ImageWidth, SHORT
    put(tiff, 12, 3, 2, big);
    put(tiff, 14, 1, 4, big);
    put(tiff, 18, 1200, 2, big);
    put(tiff, 22, 257, 2, big);  // ImageLength, LONG
    put(tiff, 24, 4, 2, big);
    put(tiff, 26, 1, 4, big);
    put(tiff, 30, 70000, 4, big);
    expectSize(tiff, 1200, 70000);
  }
}

TEST(ImageHeader, GivesNoSizeForCutOrMalformedHeaders) {
  Bytes cut = png(10, 10);
  cut.resize(20);
  EXPECT_FALSE(declaredSize(cut).has_value());
  EXPECT_FALSE(
      declaredSize(Bytes{0xFF, 0xD8, 0xFF, 0xDA, 0, 2}).has_value());  // scan before any frame
  EXPECT_FALSE(declaredSize(Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0xFF, 0xFF}).has_value());
  Bytes tiff = {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F};  // directory far past the end
  EXPECT_FALSE(declaredSize(tiff).has_value());
}

TEST(ImageHeader, RefusesEmptyAndOverOneGibibyteSizes) {
  EXPECT_TRUE(isUnacceptableSize({0, 10}));
  EXPECT_TRUE(isUnacceptableSize({10, 0}));
  EXPECT_TRUE(isUnacceptableSize({100000, 100000}));
  EXPECT_TRUE(isUnacceptableSize({(1U << 14) + 1, 1U << 14}));
  EXPECT_FALSE(isUnacceptableSize({1U << 14, 1U << 14}));  // exactly 2^28 pixels
  EXPECT_TRUE(isUnacceptableSize({std::uint64_t{1} << 40, std::uint64_t{1} << 40}));  // no overflow
  EXPECT_FALSE(isUnacceptableSize({1, 1}));
}

}  // namespace
}  // namespace brindlewox
