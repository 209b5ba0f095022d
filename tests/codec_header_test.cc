#include "platform/pdf/codec_header.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

namespace brindlewox {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& b, std::uint64_t value, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    b.push_back(static_cast<std::uint8_t>(value >> (8 * (count - 1 - i))));
}

void append(Bytes& b, std::initializer_list<std::uint8_t> bytes) {
  b.insert(b.end(), bytes);
}

std::span<const std::uint8_t> view(const Bytes& b) {
  return {b.data(), b.size()};
}

// ---- JPEG, marker by marker

struct Component {
  std::uint8_t id, h, v;
};

void jpegSegment(Bytes& b, std::uint8_t marker, const Bytes& body) {
  append(b, {0xFF, marker});
  put(b, body.size() + 2, 2);
  b.insert(b.end(), body.begin(), body.end());
}

void frame(Bytes& b, std::uint8_t marker, std::uint64_t width, std::uint64_t height,
           std::initializer_list<Component> components) {
  Bytes body = {8};
  put(body, height, 2);
  put(body, width, 2);
  body.push_back(static_cast<std::uint8_t>(components.size()));
  for (const Component& c : components)
    append(body, {c.id, static_cast<std::uint8_t>(c.h << 4 | c.v), 0});
  jpegSegment(b, marker, body);
}

// A scan header over the components named, then entropy-coded bytes holding
// a stuffed FF, a restart marker and fill bytes, all of which are no marker.
void scan(Bytes& b, std::initializer_list<std::uint8_t> ids) {
  Bytes body = {static_cast<std::uint8_t>(ids.size())};
  for (std::uint8_t id : ids) append(body, {id, 0});
  append(body, {0, 63, 0});
  jpegSegment(b, 0xDA, body);
  append(b, {0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD3, 0x56, 0xFF, 0xFF, 0x00, 0x78});
}

TEST(CodecHeader, JpegFrameScansAndBuffering) {
  // Baseline colour with 4:2:0 chroma, one interleaved scan: decoded row by
  // row, nothing buffered. 640 x 480: luma 80 x 60 blocks, chroma 40 x 30.
  Bytes baseline = {0xFF, 0xD8};
  jpegSegment(baseline, 0xE0, {'J', 'F', 'I', 'F', 0});
  frame(baseline, 0xC0, 640, 480, {{1, 2, 2}, {2, 1, 1}, {3, 1, 1}});
  scan(baseline, {1, 2, 3});
  append(baseline, {0xFF, 0xD9});
  CodecCost cost = jpegCost(view(baseline), 0, 0);
  EXPECT_TRUE(cost.known);
  EXPECT_EQ(cost.pixels, 640U * 480U);
  EXPECT_EQ(cost.memory, 0U);
  EXPECT_EQ(cost.sampleVisits, (80U * 60U + 2 * 40U * 30U) * 64);

  // The same frame progressive, in four scans: the whole image's coefficients
  // are held at two bytes each, and every scan visits its components' share.
  Bytes progressive = {0xFF, 0xD8};
  frame(progressive, 0xC2, 640, 480, {{1, 2, 2}, {2, 1, 1}, {3, 1, 1}});
  scan(progressive, {1, 2, 3});
  scan(progressive, {1});
  scan(progressive, {2});
  scan(progressive, {1});
  append(progressive, {0xFF, 0xD9});
  cost = jpegCost(view(progressive), 0, 0);
  EXPECT_EQ(cost.memory, (80U * 60U + 2 * 40U * 30U) * 64 * 2);
  EXPECT_EQ(cost.sampleVisits,
            (80U * 60U + 2 * 40U * 30U + 80U * 60U + 40U * 30U + 80U * 60U) * 64);

  // Sequential but one component a scan: libjpeg buffers that as well.
  Bytes separate = {0xFF, 0xD8};
  frame(separate, 0xC0, 64, 64, {{1, 1, 1}, {2, 1, 1}});
  scan(separate, {1});
  scan(separate, {2});
  EXPECT_EQ(jpegCost(view(separate), 0, 0).memory, 2U * 64 * 64 * 2);
}

TEST(CodecHeader, JpegIsReadAsPopplerHandsItToLibjpeg) {
  // Bytes before the start of image are skipped; a frame marker's bytes
  // inside an application segment are not a frame.
  Bytes b = {'j', 'u', 'n', 'k', 0xFF, 0xD8};
  Bytes fake = {'E',  'x',  'i',  'f',  0xFF, 0xC2, 0x00, 0x11, 8,
                0xFF, 0xFF, 0xFF, 0xFF, 1,    1,    0x11, 0};
  jpegSegment(b, 0xE1, fake);
  frame(b, 0xC0, 100, 50, {{1, 1, 1}});
  scan(b, {1});
  EXPECT_EQ(jpegCost(view(b), 0, 0).pixels, 5000U);

  // Over libjpeg's 65500-pixel side, Poppler gives it the dictionary's size.
  Bytes huge = {0xFF, 0xD8};
  frame(huge, 0xC2, 65535, 65535, {{1, 1, 1}});
  scan(huge, {1});
  EXPECT_EQ(jpegCost(view(huge), 30000, 20000).pixels, 30000U * 20000U);
  EXPECT_EQ(jpegCost(view(huge), 30000, 20000).memory, 3750U * 2500U * 128);
  EXPECT_FALSE(jpegCost(view(huge), 0, 0).known);  // and without one, nothing vouches for it

  // Headers that cannot be followed are of unknown cost, never free: a
  // lossless or hierarchical frame, no scan, no start of image.
  for (const std::uint8_t marker : {0xC3, 0xC5}) {
    Bytes unsupported = {0xFF, 0xD8};
    frame(unsupported, marker, 1000, 1000, {{1, 1, 1}});
    scan(unsupported, {1});
    EXPECT_FALSE(jpegCost(view(unsupported), 0, 0).known);
  }
  Bytes noScan = {0xFF, 0xD8};
  frame(noScan, 0xC2, 1000, 1000, {{1, 1, 1}});
  EXPECT_FALSE(jpegCost(view(noScan), 0, 0).known);
  EXPECT_FALSE(jpegCost(view(Bytes{0xFF, 0xD9, 1, 2, 3}), 0, 0).known);
  EXPECT_TRUE(jpegCost(view(b), 0, 0).known);

  // Poppler looks for the start two bytes at a time, so in FF FF D8 the D8
  // goes with the second FF and the start is the next FF D8: an image that
  // seems to end at once hides the one libjpeg decodes.
  Bytes hidden = {0xFF, 0xFF, 0xD8, 0xFF, 0xD9};
  hidden.insert(hidden.end(), huge.begin(), huge.end());
  EXPECT_EQ(jpegCost(view(hidden), 30000, 20000).pixels, 30000U * 20000U);

  // An application segment of length 0 is one libjpeg steps over by its two
  // length bytes; it is not followed here, so the cost is unknown.
  Bytes emptyApp = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x00};
  emptyApp.insert(emptyApp.end(), huge.begin() + 2, huge.end());
  EXPECT_FALSE(jpegCost(view(emptyApp), 30000, 20000).known);
}

// ---- JPEG 2000

Bytes codestream(std::uint64_t x1, std::uint64_t y1, std::uint64_t x0, std::uint64_t y0,
                 std::uint64_t tileWidth, std::uint64_t tileHeight,
                 std::initializer_list<std::pair<int, int>> subsampling) {
  Bytes b = {0xFF, 0x4F, 0xFF, 0x51};
  put(b, 38 + 3 * subsampling.size(), 2);
  put(b, 0, 2);
  for (std::uint64_t v :
       {x1, y1, x0, y0, tileWidth, tileHeight, std::uint64_t{0}, std::uint64_t{0}})
    put(b, v, 4);
  put(b, subsampling.size(), 2);
  for (const auto& [dx, dy] : subsampling)
    append(b, {7, static_cast<std::uint8_t>(dx), static_cast<std::uint8_t>(dy)});
  append(b, {0xFF, 0xD9});
  return b;
}

Bytes box(const char* type, const Bytes& content) {
  Bytes b;
  put(b, content.size() + 8, 4);
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), content.begin(), content.end());
  return b;
}

TEST(CodecHeader, JpegTwoThousandSizeComponentsAndTiles) {
  // Offset image area; chroma subsampled by two: samples are counted on each
  // component's own grid, four bytes each, plus every tile's parameters.
  const Bytes bare = codestream(1010, 2020, 10, 20, 1010, 2020, {{1, 1}, {2, 2}, {2, 2}});
  CodecCost cost = jpxCost(view(bare));
  EXPECT_EQ(cost.pixels, 1000U * 2000U);
  EXPECT_EQ(cost.sampleVisits, 1000U * 2000U + 2 * 500U * 1000U);
  EXPECT_EQ(cost.memory, cost.sampleVisits * 4 + 8192 + 3 * 1024U);

  // The same picture in 10 x 10 tiles: a hundred tiles' parameters.
  EXPECT_EQ(jpxCost(view(codestream(1010, 2020, 10, 20, 101, 202, {{1, 1}}))).memory,
            1000U * 2000U * 4 + 100 * (8192 + 1024));

  // Each component adds its coding parameters to every tile: 16,384
  // components in 1,024 tiles are gigabytes however few samples they hold.
  constexpr std::size_t kComponents = 16384;
  Bytes wide = {0xFF, 0x4F, 0xFF, 0x51};
  put(wide, 38 + 3 * kComponents, 2);
  put(wide, 0, 2);
  for (std::uint64_t v : {2048, 2048, 0, 0, 64, 64, 0, 0}) put(wide, v, 4);
  put(wide, kComponents, 2);
  for (std::size_t i = 0; i < kComponents; ++i) append(wide, {7, 255, 255});  // 9 samples each
  const CodecCost manyComponents = jpxCost(view(wide));
  EXPECT_TRUE(manyComponents.known);
  EXPECT_GE(manyComponents.memory, 1024U * 16384U * 1024U);

  // Sizes OpenJPEG refuses, and an unknown marker where SIZ belongs (which
  // OpenJPEG steps over), are of unknown cost.
  EXPECT_FALSE(jpxCost(view(codestream(1000, 1000, 0, 0, 0, 1000, {{1, 1}}))).known);
  EXPECT_FALSE(jpxCost(view(codestream(10, 1000, 20, 0, 10, 1000, {{1, 1}}))).known);
  Bytes unknownFirst = {0xFF, 0x4F, 0xFF, 0x30, 0x00, 0x04, 0x00, 0x00};
  const Bytes real = codestream(16000, 16000, 0, 0, 16000, 16000, {{1, 1}});
  unknownFirst.insert(unknownFirst.end(), real.begin() + 2, real.end());
  EXPECT_FALSE(jpxCost(view(unknownFirst)).known);
  EXPECT_TRUE(jpxCost(view(real)).known);
}

TEST(CodecHeader, JpegTwoThousandFileReadsItsCodestreamBox) {
  Bytes file = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  const Bytes header = box("ftyp", {'j', 'p', '2', ' ', 0, 0, 0, 0});
  file.insert(file.end(), header.begin(), header.end());
  // A box of its own holding a small codestream's bytes is not the picture.
  const Bytes decoy = box("xml ", codestream(10, 10, 0, 0, 10, 10, {{1, 1}}));
  file.insert(file.end(), decoy.begin(), decoy.end());
  // The codestream box with an 8-byte length.
  const Bytes picture = codestream(3000, 4000, 0, 0, 3000, 4000, {{1, 1}});
  put(file, 1, 4);
  file.insert(file.end(), {'j', 'p', '2', 'c'});
  put(file, picture.size() + 16, 8);
  file.insert(file.end(), picture.begin(), picture.end());
  EXPECT_EQ(jpxCost(view(file)).pixels, 3000U * 4000U);

  // A box longer than the file (2 GB) leaves the cost unknown.
  Bytes cut(file.begin(), file.begin() + 12);
  put(cut, 0x80000000U, 4);
  cut.insert(cut.end(), {'j', 'p', '2', 'c'});
  cut.insert(cut.end(), picture.begin(), picture.end());
  EXPECT_FALSE(jpxCost(view(cut)).known);
  EXPECT_TRUE(jpxCost(view(file)).known);
}

// ---- JBIG2, segment by segment

void segment(Bytes& b, std::uint32_t number, std::uint8_t type, const Bytes& data,
             std::uint64_t length = ~0ULL) {
  put(b, number, 4);
  append(b, {type, 0, 1});
  put(b, length == ~0ULL ? data.size() : length, 4);
  b.insert(b.end(), data.begin(), data.end());
}

Bytes pageInformation(std::uint32_t width, std::uint32_t height, std::uint16_t striping = 0) {
  Bytes b;
  put(b, width, 4);
  put(b, height, 4);
  put(b, 0, 8);
  b.push_back(0);
  put(b, striping, 2);
  return b;
}

Bytes region(std::uint32_t width, std::uint32_t height, std::uint32_t x, std::uint32_t y,
             const Bytes& rest) {
  Bytes b;
  for (std::uint32_t v : {width, height, x, y}) put(b, v, 4);
  b.push_back(0);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

TEST(CodecHeader, Jbig2CountsEveryBitmapItsSegmentsDeclare) {
  // A page and two generic regions; the globals' segments come first.
  Bytes globals;
  segment(globals, 0, 48, pageInformation(2000, 3000));
  Bytes page;
  segment(page, 1, 38, region(1000, 1000, 0, 0, {0x01, 0xAA, 0xBB}));
  segment(page, 2, 49, {});
  segment(page, 3, 39, region(500, 400, 10, 10, {0x01}));
  CodecCost cost = jbig2Cost(view(globals), view(page));
  EXPECT_TRUE(cost.known);
  EXPECT_EQ(cost.pixels, 2000U * 3000U + 1000U * 1000U + 500U * 400U);
  EXPECT_EQ(cost.memory, cost.pixels / 8);

  // A striped page of unknown height grows as regions land lower down.
  Bytes striped;
  segment(striped, 0, 48, pageInformation(1000, 0xFFFFFFFF, 0x8000 | 100));
  segment(striped, 1, 38, region(1000, 100, 0, 900, {0x01}));
  EXPECT_EQ(jbig2Cost({}, view(striped)).pixels, 1000U * 100 + 1000U * 100 + 1000U * 1000U);

  // Halftone: a pattern table, then a grid of cells each drawn with a pattern.
  Bytes halftone;
  segment(halftone, 0, 48, pageInformation(100, 100));
  segment(halftone, 1, 16, {0x01, 8, 4, 0, 0, 0, 15});  // sixteen 8 x 4 patterns
  Bytes grid = {0x01};
  for (std::uint32_t v : {50U, 60U, 0U, 0U}) put(grid, v, 4);
  put(grid, 0, 4);
  segment(halftone, 2, 22, region(100, 100, 0, 0, grid));
  EXPECT_EQ(jbig2Cost({}, view(halftone)).pixels,
            100U * 100 + 16U * 8 * 4 + 100U * 100 + 50U * 60 * 8 * 4);
}

TEST(CodecHeader, Jbig2FollowsSegmentHeadersAsPopplerDoes) {
  // Long form of the referred-to count: 9 segments, two bytes of retention
  // bits, then one byte for each number (this segment's number is small).
  Bytes b;
  segment(b, 0, 48, pageInformation(10, 10));
  put(b, 1, 4);
  append(b, {38, 0xE0, 0x00, 0x00, 0x09, 0, 0});
  for (int i = 0; i < 9; ++i) b.push_back(0);
  b.push_back(1);
  const Bytes data = region(4000, 5000, 0, 0, {0x01});
  put(b, data.size(), 4);
  b.insert(b.end(), data.begin(), data.end());
  EXPECT_EQ(jbig2Cost({}, view(b)).pixels, 100U + 4000U * 5000U);

  // End of file: nothing after it is read.
  Bytes ended;
  segment(ended, 0, 48, pageInformation(10, 10));
  segment(ended, 1, 51, {});
  segment(ended, 2, 38, region(4000, 5000, 0, 0, {0x01}));
  EXPECT_EQ(jbig2Cost({}, view(ended)).pixels, 100U);

  // A region whose length is left open hides where the next segment starts.
  Bytes open;
  segment(open, 0, 48, pageInformation(10, 10));
  segment(open, 1, 38, region(10, 10, 0, 0, {0x00}), 0xFFFFFFFF);
  EXPECT_FALSE(jbig2Cost({}, view(open)).known);
  EXPECT_FALSE(jbig2Cost(view(open), {}).known);

  // A region declared 0 bytes long: Poppler reads its fields from what
  // follows, so nothing after it is what it seems.
  Bytes empty;
  segment(empty, 0, 48, pageInformation(10, 10));
  segment(empty, 1, 38, {}, 0);
  const Bytes hiddenRegion = region(60000, 60000, 0, 0, {0x01});
  empty.insert(empty.end(), hiddenRegion.begin(), hiddenRegion.end());
  EXPECT_FALSE(jbig2Cost({}, view(empty)).known);

  // A symbol dictionary is counted by its number of symbols: a table entry
  // for each exported one, an entry and a bitmap object for each new one.
  Bytes symbols;
  segment(symbols, 0, 48, pageInformation(10, 10));
  Bytes dictionary = {0x00, 0x01};  // Huffman-coded, no adaptive pixels
  put(dictionary, 140000000, 4);
  put(dictionary, 140000000, 4);
  segment(symbols, 1, 0, dictionary);
  EXPECT_GE(jbig2Cost({}, view(symbols)).memory, 140000000U * 16);
  EXPECT_TRUE(jbig2Cost({}, view(symbols)).known);

  // A segment cut short still costs what its header declares.
  Bytes cut;
  segment(cut, 0, 48, pageInformation(10, 10));
  segment(cut, 1, 38, region(3000, 3000, 0, 0, {0x00, 1, 2, 3}), 100000);
  EXPECT_EQ(jbig2Cost({}, view(cut)).pixels, 100U + 3000U * 3000U);
}

// Every prefix of a stream, as a cut-short file gives it, is read within its
// bounds and never costs more than the whole: the readers stop at the end of
// what is there instead of reading on or making up sizes.
TEST(CodecHeader, CutShortStreamsNeverCostMoreThanWhole) {
  Bytes jpeg = {0xFF, 0xD8};
  frame(jpeg, 0xC2, 640, 480, {{1, 2, 2}, {2, 1, 1}, {3, 1, 1}});
  scan(jpeg, {1, 2, 3});
  scan(jpeg, {1});
  Bytes jbig2;
  segment(jbig2, 0, 48, pageInformation(2000, 3000));
  segment(jbig2, 1, 38, region(1000, 1000, 0, 0, {0x01, 0xAA}));
  Bytes jpx = {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  const Bytes picture = box("jp2c", codestream(3000, 4000, 0, 0, 300, 400, {{1, 1}, {2, 2}}));
  jpx.insert(jpx.end(), picture.begin(), picture.end());

  const CodecCost wholeJpeg = jpegCost(view(jpeg), 0, 0);
  const CodecCost wholeJbig2 = jbig2Cost({}, view(jbig2));
  const CodecCost wholeJpx = jpxCost(view(jpx));
  const auto noMore = [](const CodecCost& part, const CodecCost& whole) {
    EXPECT_LE(part.pixels, whole.pixels);
    EXPECT_LE(part.memory, whole.memory);
    EXPECT_LE(part.sampleVisits, whole.sampleVisits);
  };
  for (std::size_t n = 0; n < jpeg.size(); ++n)
    noMore(jpegCost(view(Bytes(jpeg.begin(), jpeg.begin() + n)), 0, 0), wholeJpeg);
  for (std::size_t n = 0; n < jbig2.size(); ++n) {
    const Bytes part(jbig2.begin(), jbig2.begin() + n);
    noMore(jbig2Cost({}, view(part)), wholeJbig2);
    noMore(jbig2Cost(view(part), {}), wholeJbig2);
  }
  for (std::size_t n = 0; n < jpx.size(); ++n)
    noMore(jpxCost(view(Bytes(jpx.begin(), jpx.begin() + n))), wholeJpx);
  EXPECT_GT(wholeJpeg.memory, 0U);
  EXPECT_GT(wholeJbig2.pixels, 0U);
  EXPECT_GT(wholeJpx.pixels, 0U);
}

}  // namespace
}  // namespace brindlewox
