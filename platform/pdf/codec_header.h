// What an image codec inside a PDF will cost to decode, read from the codec's
// own headers before its decoder runs. Poppler's JBIG2 and JPEG 2000 decoders,
// and its JPEG decoder for a progressive image, build the whole image in
// memory before they hand out its first row, so by the time a byte count
// could stop them the memory is spent. Plain bytes in; nothing here decodes
// an image.
#pragma once

#include <cstdint>
#include <span>

namespace brindlewox {

struct CodecCost {
  // Pixels the decoder fills: the picture, or for JBIG2 every bitmap it
  // builds (page, regions, pattern tables, halftone cells).
  std::uint64_t pixels = 0;
  // Bytes the decoder holds at once for its picture, at the least.
  std::uint64_t memory = 0;
  // Samples the entropy decoder visits, summed over every scan: a
  // progressive JPEG visits its coefficients once per scan.
  std::uint64_t sampleVisits = 0;
  // False where the headers cannot be followed to the end although the
  // decoder could still run (a JBIG2 region of unknown length hides what
  // follows it, a segment shorter than its fields, a JPEG with no scan or a
  // length under two, a JP2 box longer than the file): its cost is not
  // known, and nothing vouches for it.
  bool known = true;
};

// A JPEG as Poppler hands it to libjpeg: from the first start-of-image marker
// on. `declaredWidth` and `declaredHeight` are the image dictionary's, which
// Poppler gives libjpeg in place of a frame over libjpeg's 65500-pixel limit.
// A stream whose headers cannot be followed (no start, no frame, an
// unsupported one, no scan) is of unknown cost.
CodecCost jpegCost(std::span<const std::uint8_t> bytes, std::uint64_t declaredWidth,
                   std::uint64_t declaredHeight);

// A JPEG 2000 file (JP2 boxes) or bare codestream, as OpenJPEG reads it.
CodecCost jpxCost(std::span<const std::uint8_t> bytes);

// A JBIG2 stream in PDF's embedded form (segments without a file header),
// after its global segments, as Poppler reads them. A symbol dictionary's
// symbols are counted by number, not by size: their sizes are coded inside
// its compressed data and known only by decoding it.
CodecCost jbig2Cost(std::span<const std::uint8_t> globals, std::span<const std::uint8_t> bytes);

}  // namespace brindlewox
