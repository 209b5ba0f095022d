#include "platform/pdf/codec_header.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <vector>

namespace brindlewox {

namespace {

using Bytes = std::span<const std::uint8_t>;

// Reads big-endian fields off the front of a byte range; a field past the end
// reads as absent, and so does every one after it.
class Reader {
 public:
  explicit Reader(Bytes bytes, std::size_t at = 0) : bytes_(bytes), at_(at) {}

  std::optional<std::uint64_t> take(std::size_t count) {
    if (failed_ || count > bytes_.size() || at_ > bytes_.size() - count) {
      failed_ = true;
      return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i) value = (value << 8U) | bytes_[at_ + i];
    at_ += count;
    return value;
  }
  std::uint64_t u8() { return take(1).value_or(0); }
  std::uint64_t u16() { return take(2).value_or(0); }
  std::uint64_t u32() { return take(4).value_or(0); }

  void skip(std::uint64_t count) {
    if (failed_ || count > bytes_.size() - at_) {
      failed_ = true;
      at_ = bytes_.size();
      return;
    }
    at_ += static_cast<std::size_t>(count);
  }

  bool ok() const { return !failed_; }
  bool atEnd() const { return at_ >= bytes_.size(); }
  std::size_t at() const { return at_; }

 private:
  Bytes bytes_;
  std::size_t at_;
  bool failed_ = false;
};

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
  return (a + b - 1) / b;
}

// Saturating, so that a product of two declared 32-bit sizes (or a sum of
// many) can only grow, never wrap to something small.
std::uint64_t times(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
  return a * b;
}
std::uint64_t plus(std::uint64_t a, std::uint64_t b) {
  return b > UINT64_MAX - a ? UINT64_MAX : a + b;
}

// Headers that cannot be followed: whatever the decoder makes of them, nothing
// here vouches for its cost.
CodecCost unknown() {
  CodecCost cost;
  cost.known = false;
  return cost;
}

// ---- JPEG

struct JpegComponent {
  std::uint64_t id = 0;
  std::uint64_t blocks = 0;  // 8x8 blocks the coefficient buffer holds for it
};

// libjpeg's own bound on a side; beyond it Poppler substitutes the image
// dictionary's size.
constexpr std::uint64_t kJpegMaxSide = 65500;

// The next marker from `at`, skipping what libjpeg skips on its way to one
// (stray bytes, fill bytes, stuffed zeros); absent at the end of the data.
std::optional<std::uint8_t> nextMarker(Bytes b, std::size_t& at) {
  while (at < b.size()) {
    if (b[at] != 0xFF) {
      ++at;
      continue;
    }
    while (at < b.size() && b[at] == 0xFF) ++at;
    if (at >= b.size()) return std::nullopt;
    const std::uint8_t code = b[at++];
    if (code != 0) return code;
  }
  return std::nullopt;
}

}  // namespace

CodecCost jpegCost(Bytes b, std::uint64_t declaredWidth, std::uint64_t declaredHeight) {
  // Poppler hands libjpeg the data from the first FF D8 it finds looking two
  // bytes at a time: an FF followed by anything else is dropped with that
  // byte, so in FF FF D8 the start is further on, not at the second FF.
  std::size_t at = 0;
  bool started = false;
  while (!started && at < b.size()) {
    if (b[at] != 0xFF) {
      ++at;
    } else {
      started = at + 1 < b.size() && b[at + 1] == 0xD8;
      at += 2;
    }
  }
  if (!started) return unknown();

  CodecCost cost;
  std::vector<JpegComponent> components;
  bool progressive = false;
  bool multiScan = false;
  std::uint64_t scans = 0;
  while (const std::optional<std::uint8_t> marker = nextMarker(b, at)) {
    if (*marker == 0xD9) break;                                             // end of image
    if (*marker == 0x01 || (*marker >= 0xD0 && *marker <= 0xD8)) continue;  // no length follows
    Reader segment(b, at);
    const std::uint64_t length = segment.u16();
    // libjpeg reads on past a length under 2 where this could not follow it.
    if (!segment.ok() || length < 2) return unknown();
    const bool frame =
        *marker >= 0xC0 && *marker <= 0xCF && *marker != 0xC4 && *marker != 0xC8 && *marker != 0xCC;
    if (frame) {
      // libjpeg reads only the first frame; a second one, or one it does not
      // decode (lossless, hierarchical), ends the decoding.
      const bool supported = *marker == 0xC0 || *marker == 0xC1 || *marker == 0xC2 ||
                             *marker == 0xC9 || *marker == 0xCA;
      if (!components.empty()) break;
      if (!supported) return unknown();
      progressive = *marker == 0xC2 || *marker == 0xCA;
      segment.u8();  // precision
      std::uint64_t height = segment.u16();
      std::uint64_t width = segment.u16();
      const std::uint64_t count = segment.u8();
      if (!segment.ok() || count == 0 || count > 10) return unknown();
      if (width > kJpegMaxSide || height > kJpegMaxSide) {
        if (declaredWidth == 0 || declaredHeight == 0 || declaredWidth > kJpegMaxSide ||
            declaredHeight > kJpegMaxSide) {
          return unknown();
        }
        width = declaredWidth;
        height = declaredHeight;
      }
      if (width == 0 || height == 0) return unknown();
      struct Sampling {
        std::uint64_t id, h, v;
      };
      std::vector<Sampling> sampling;
      std::uint64_t hMax = 1;
      std::uint64_t vMax = 1;
      for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t id = segment.u8();
        const std::uint64_t factors = segment.u8();
        segment.u8();  // quantisation table
        const std::uint64_t h = factors >> 4U;
        const std::uint64_t v = factors & 0x0FU;
        if (h < 1 || h > 4 || v < 1 || v > 4) return unknown();
        sampling.push_back({id, h, v});
        hMax = std::max(hMax, h);
        vMax = std::max(vMax, v);
      }
      if (!segment.ok()) return unknown();
      for (const Sampling& s : sampling) {
        // As libjpeg sizes its coefficient arrays: whole blocks, rows rounded
        // up to the component's vertical sampling.
        const std::uint64_t across = ceilDiv(width * s.h, 8 * hMax);
        const std::uint64_t down = ceilDiv(ceilDiv(height * s.v, 8 * vMax), s.v) * s.v;
        components.push_back({s.id, across * down});
      }
      cost.pixels = width * height;
    } else if (*marker == 0xDA) {  // start of scan
      if (components.empty()) return unknown();
      const std::uint64_t count = segment.u8();
      std::uint64_t blocks = 0;
      for (std::uint64_t i = 0; i < count && segment.ok(); ++i) {
        const std::uint64_t id = segment.u8();
        segment.u8();  // table selectors
        const auto found = std::find_if(components.begin(), components.end(),
                                        [id](const JpegComponent& c) { return c.id == id; });
        if (found != components.end()) blocks += found->blocks;
      }
      if (!segment.ok()) return unknown();
      // libjpeg decides at the first scan whether the whole image is buffered.
      if (scans == 0) multiScan = progressive || count < components.size();
      ++scans;
      cost.sampleVisits = plus(cost.sampleVisits, blocks * 64);
    }
    // Entropy-coded data after a scan header holds no markers that matter;
    // the marker search steps over it.
    at += static_cast<std::size_t>(std::min<std::uint64_t>(length, b.size() - at));
  }
  if (multiScan) {
    std::uint64_t blocks = 0;
    for (const JpegComponent& c : components) blocks += c.blocks;
    cost.memory = blocks * 64 * 2;  // 16-bit coefficients
  }
  // No frame or no scan: nothing a decoder would make of this is vouched for.
  if (scans == 0) return unknown();
  return cost;
}

// ---- JPEG 2000

namespace {

// The codestream's image and tile sizes, from its SIZ marker segment right
// after the start of codestream, as OpenJPEG checks them. OpenJPEG steps over
// markers it does not know to find SIZ further on; here anything but SIZ in
// its place is refused, as real codestreams never put one there.
CodecCost codestreamCost(Bytes b) {
  Reader r(b);
  if (r.u16() != 0xFF4F || r.u16() != 0xFF51) return unknown();
  r.u16();  // Lsiz
  r.u16();  // Rsiz
  const std::uint64_t x1 = r.u32();
  const std::uint64_t y1 = r.u32();
  const std::uint64_t x0 = r.u32();
  const std::uint64_t y0 = r.u32();
  const std::uint64_t tileWidth = r.u32();
  const std::uint64_t tileHeight = r.u32();
  const std::uint64_t tileX0 = r.u32();
  const std::uint64_t tileY0 = r.u32();
  const std::uint64_t count = r.u16();
  if (!r.ok() || x1 <= x0 || y1 <= y0 || tileWidth == 0 || tileHeight == 0 || tileX0 > x0 ||
      tileY0 > y0 || count == 0 || count > 16384) {
    return unknown();
  }
  CodecCost cost;
  cost.pixels = times(x1 - x0, y1 - y0);
  std::uint64_t samples = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    r.u8();  // depth and sign
    const std::uint64_t dx = r.u8();
    const std::uint64_t dy = r.u8();
    if (!r.ok() || dx == 0 || dy == 0) return unknown();
    samples =
        plus(samples, times(ceilDiv(x1, dx) - ceilDiv(x0, dx), ceilDiv(y1, dy) - ceilDiv(y0, dy)));
  }
  const std::uint64_t tiles =
      times(ceilDiv(x1 - tileX0, tileWidth), ceilDiv(y1 - tileY0, tileHeight));
  // 32-bit samples for the whole picture, and the coding parameters of every
  // tile, allocated as the header is read: some kilobytes a tile, and about
  // one more for each component in each tile (thousands of components in
  // thousands of tiles are gigabytes before a sample is decoded).
  constexpr std::uint64_t kBytesPerTile = 8 << 10;
  constexpr std::uint64_t kBytesPerTileComponent = 1 << 10;
  cost.memory = plus(times(samples, 4),
                     times(tiles, plus(kBytesPerTile, times(count, kBytesPerTileComponent))));
  cost.sampleVisits = samples;
  return cost;
}

}  // namespace

CodecCost jpxCost(Bytes b) {
  static constexpr std::array<std::uint8_t, 12> kSignature = {0,   0,   0,    12,   'j',  'P',
                                                              ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  if (b.size() < kSignature.size() ||
      !std::equal(kSignature.begin(), kSignature.end(), b.begin())) {
    return codestreamCost(b);
  }
  // JP2 boxes; OpenJPEG decodes the first contiguous codestream box.
  Reader r(b);
  while (!r.atEnd()) {
    const std::size_t start = r.at();
    std::uint64_t length = r.u32();
    const std::uint64_t type = r.u32();
    if (length == 1) length = r.take(8).value_or(0);
    if (!r.ok()) return unknown();
    const std::uint64_t header = r.at() - start;
    if (length == 0) length = b.size() - start;  // the last box runs to the end
    // A box that claims more than the data holds (OpenJPEG may read on
    // regardless) is refused.
    if (length < header || length - header > b.size() - r.at()) return unknown();
    if (type == 0x6A703263)
      return codestreamCost(b.subspan(r.at(), static_cast<std::size_t>(length - header)));  // jp2c
    r.skip(length - header);
  }
  return unknown();
}

// ---- JBIG2

namespace {

struct Jbig2Walk {
  CodecCost cost;
  std::uint64_t pageWidth = 0;
  std::uint64_t pageHeight = 0;  // as allocated so far; grows with a striped page of unknown height
  bool unknownHeight = false;
  std::uint64_t largestPattern = 0;  // pixels of the largest halftone pattern seen
  bool ended = false;

  void add(std::uint64_t pixels) {
    cost.pixels = plus(cost.pixels, pixels);
    cost.memory = plus(cost.memory, ceilDiv(pixels, 8));  // one bit each
  }

  // Segments in Poppler's order, until the data or the file ends.
  void segments(Bytes b) {
    Reader r(b);
    while (!ended && !r.atEnd()) {
      const std::uint64_t number = r.u32();
      const std::uint64_t flags = r.u8();
      const std::uint64_t type = flags & 0x3FU;
      const std::uint64_t retention = r.u8();
      std::uint64_t referred = retention >> 5U;
      if (referred == 7) {
        // Long form: a 29-bit count, then a retention bit for each referred
        // segment and one for this one.
        referred = ((retention << 24U) | r.take(3).value_or(0)) & 0x1FFFFFFFU;
        r.skip((referred + 9) >> 3U);
      }
      const std::uint64_t referenceSize = number <= 256 ? 1 : number <= 65536 ? 2 : 4;
      r.skip(times(referred, referenceSize));
      r.skip((flags & 0x40U) != 0 ? 4 : 1);  // page association
      const std::uint64_t length = r.u32();
      if (!r.ok()) return;
      if (length == 0xFFFFFFFF) {
        // Only an immediate generic region may leave its length open, and
        // where its data ends is known only by decoding it.
        cost.known = false;
        return;
      }
      if (length > b.size() - r.at()) {
        // Cut short: what the decoder can still read of it is all there is.
        data(type, b.subspan(r.at()));
        return;
      }
      data(type, b.subspan(r.at(), static_cast<std::size_t>(length)));
      r.skip(length);
    }
  }

  // A segment whose declared length is shorter than its own fixed fields:
  // Poppler reads the fields on from the bytes after it, and from there the
  // segments it reads are not the ones seen here.
  void shortSegment() {
    cost.known = false;
    ended = true;
  }

  void data(std::uint64_t type, Bytes b) {
    Reader r(b);
    if (type == 0) {  // symbol dictionary
      symbolDictionary(r);
      return;
    }
    if (type == 48) {  // page information
      pageWidth = r.u32();
      pageHeight = r.u32();
      r.skip(9);
      const std::uint64_t striping = r.u16();
      if (!r.ok()) return shortSegment();
      unknownHeight = pageHeight == 0xFFFFFFFF;
      if (unknownHeight) pageHeight = striping & 0x7FFFU;
      add(times(pageWidth, pageHeight));
      return;
    }
    if (type == 51) {  // end of file
      ended = true;
      return;
    }
    if (type == 16) {  // pattern dictionary: every pattern side by side in one bitmap
      r.u8();
      const std::uint64_t width = r.u8();
      const std::uint64_t height = r.u8();
      const std::uint64_t grayMax = r.u32();
      if (!r.ok()) return shortSegment();
      largestPattern = std::max(largestPattern, width * height);
      add(times(times(grayMax + 1, width), height));
      return;
    }
    const bool region =
        (type >= 4 && type <= 7) || (type >= 20 && type <= 23) || (type >= 36 && type <= 43);
    if (!region) return;
    const std::uint64_t width = r.u32();
    const std::uint64_t height = r.u32();
    r.u32();  // x
    const std::uint64_t y = r.u32();
    r.u8();
    if (!r.ok()) return shortSegment();
    add(times(width, height));
    if (unknownHeight && y + height > pageHeight) {
      // The page grows to take the region; the new rows are a new bitmap.
      add(times(pageWidth, y + height));
      pageHeight = y + height;
    }
    if (type >= 20 && type <= 23) {  // halftone: a grid of cells, each drawn with a pattern
      r.u8();
      const std::uint64_t gridWidth = r.u32();
      const std::uint64_t gridHeight = r.u32();
      if (!r.ok()) return shortSegment();
      const std::uint64_t cells = times(gridWidth, gridHeight);
      add(times(cells, std::max<std::uint64_t>(largestPattern, 1)));
      cost.memory = plus(cost.memory, times(cells, 4));  // the grey value of every cell
    }
  }

  // The symbols' own sizes are coded inside the dictionary's data, but their
  // number is in its header, and the decoder makes a table entry for every
  // symbol it exports and a bitmap object for every new one before it
  // decodes the first.
  void symbolDictionary(Reader& r) {
    const std::uint64_t flags = r.u16();
    const bool huffman = (flags & 1U) != 0;
    const bool refinement = (flags & 2U) != 0;
    const std::uint64_t genericTemplate = (flags >> 10U) & 3U;
    const bool refinementTemplate = (flags & 0x1000U) != 0;
    if (!huffman) r.skip(genericTemplate == 0 ? 8 : 2);  // adaptive pixels
    if (refinement && !refinementTemplate) r.skip(4);
    const std::uint64_t exported = r.u32();
    const std::uint64_t created = r.u32();
    if (!r.ok()) return shortSegment();
    constexpr std::uint64_t kBytesPerEntry = 8;       // a pointer in each table
    constexpr std::uint64_t kBytesPerNewSymbol = 64;  // a bitmap object, before its pixels
    cost.memory = plus(cost.memory, plus(times(plus(exported, created), kBytesPerEntry),
                                         times(created, kBytesPerNewSymbol)));
  }
};

}  // namespace

CodecCost jbig2Cost(Bytes globals, Bytes bytes) {
  Jbig2Walk walk;
  walk.segments(globals);
  walk.ended = false;
  if (walk.cost.known) walk.segments(bytes);
  walk.cost.sampleVisits = walk.cost.pixels;
  return walk.cost;
}

}  // namespace brindlewox
