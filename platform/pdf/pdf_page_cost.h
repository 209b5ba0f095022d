// What drawing one PDF page will cost, found before any of it is drawn, and
// the bounds it must keep. Drawing is checked for time only between operators,
// and several of Poppler's decoders build their whole result in memory before
// the first byte comes out, so anything that can only be stopped once it has
// begun is measured first: every stream the drawing will read, through the
// page's resources and its forms, patterns, Type 3 glyphs, soft masks and
// annotation appearances, each once.
//
// This runs in the decoding worker, whose address-space limit and deadline
// stop whatever gets past it; the bounds here are kept where they make the
// common refusal fast and clear (at once, instead of a gigabyte or fifteen
// seconds later) or where Poppler would otherwise draw the page without the
// stream and lose its text silently (a fax image with rows wider than the worker
// can allocate is drawn without the image, so its width stays bounded here).
#pragma once

#include <chrono>
#include <cstdint>

class Page;
class XRef;

namespace brindlewox {

// Measuring and drawing one page together may not take longer than this: a
// page whose content never ends (or is built to take hours) fails instead of
// hanging the parent. Real pages draw in well under a second; a parent's
// watchdog should still see the failure line within half a minute, so the
// limit leaves room for the one operator that is running when it passes
// (each image within the bounds below is drawn in seconds).
inline constexpr std::chrono::seconds kPageDrawingLimit{15};

// Decoded content that drawing parses as operators (the page's own, and its
// forms', patterns', glyphs', soft masks' and appearances'). 32 MiB of bare
// operands, the slowest content to parse, takes seconds; text pages hold tens
// of kilobytes and dense drawings a few megabytes.
inline constexpr std::int64_t kPageContentLimit = std::int64_t{32} << 20;

// Decoded data that drawing reads whole into memory: embedded fonts and their
// maps, colour profiles, mesh shadings, calculator functions. An embedded
// complete CJK font is some 20 MB.
inline constexpr std::int64_t kPageWholeDataLimit = std::int64_t{64} << 20;

// Pixels of one image, as its dictionary declares them or its codec's header
// does (for JBIG2, every bitmap the decoder fills). Drawing reads every row
// of an image within one operator, some two seconds for 2^28 pixels; the
// same bound as an image file's. A 600 dpi A3 scan has 70 million.
inline constexpr std::int64_t kImagePixelLimit = std::int64_t{1} << 28;

// An image as drawn: the box its corners span in the page's bitmap. Splash
// scales an image to that whole box before clipping it to the page, at up to
// four bytes a pixel, so a tiny image drawn huge fills gigabytes. 2^26 pixels
// (256 MiB) is six times the largest page bitmap. Checked as the page is
// drawn, since only drawing knows the transformation.
inline constexpr std::int64_t kDrawnImagePixelLimit = std::int64_t{1} << 26;

// The encoded bytes one image's codec reads (JPEG 2000 reads them whole).
inline constexpr std::int64_t kCodecInputLimit = std::int64_t{64} << 20;

// What one image's decoder holds at once: a JPEG 2000 picture at four bytes a
// sample, a progressive JPEG's coefficients at two, JBIG2's bitmaps. With
// the networks (some 430 MB) it keeps a run well under a gigabyte.
inline constexpr std::int64_t kDecoderMemoryLimit = std::int64_t{256} << 20;

// Samples a JPEG's entropy decoder visits over all its scans, a few seconds'
// worth at some 3 ns each: a progressive image of a few bytes a scan can
// hold thousands of scans over the same coefficients.
inline constexpr std::int64_t kSampleVisitLimit = std::int64_t{1} << 30;

// A CCITT fax stream's row width: Poppler allocates two rows of integers for
// it as the stream is made. A 600 dpi row across A0 is 20,000.
inline constexpr std::int64_t kFaxColumnLimit = std::int64_t{1} << 18;

// Samples of a sampled function's table, which Poppler holds as doubles;
// colour tables have some thousands.
inline constexpr std::int64_t kFunctionSampleLimit = std::int64_t{1} << 22;

// Tokens of one calculator function's program, which drawing runs for every
// pixel of a function shading and every sample of some images: real ones
// have tens, a tint transform of many inks some hundreds.
inline constexpr std::int64_t kCalculatorTokenLimit = 4096;

// What a mesh shading's parsed patches or triangles take: Poppler keeps every
// patch as some kilobyte of doubles and every vertex as 144 bytes, hundreds of
// times the bits a crafted stream spends on them. Counted from the bits each
// needs at the least.
inline constexpr std::int64_t kMeshMemoryLimit = std::int64_t{256} << 20;

// Cells of a tiling pattern over the page: a pattern is drawn cell by cell
// where it cannot be drawn as one repeated bitmap, and a step of a thousandth
// of a point is billions of them. A one-point dot screen over a letter page
// has half a million.
inline constexpr std::int64_t kTilingCellLimit = std::int64_t{1} << 22;

// Annotation appearances drawn on one page, in page areas (each appearance's
// rectangle, clipped to the page): drawing fills each in turn with no check
// between them. A busy form's fields together cover well under one page.
inline constexpr std::int64_t kAnnotationAreaLimit = 64;

// The page's figures against those bounds: totals for the page-wide ones,
// the largest single image's for the others.
struct PageCost {
  std::int64_t contentBytes = 0;
  std::int64_t wholeDataBytes = 0;
  std::int64_t imagePixels = 0;
  std::int64_t codecInputBytes = 0;
  std::int64_t decoderMemory = 0;
  std::int64_t sampleVisits = 0;
  std::int64_t faxColumns = 0;
  std::int64_t functionSamples = 0;
  std::int64_t calculatorTokens = 0;
  std::int64_t meshMemory = 0;
  std::int64_t tilingCells = 0;
  std::int64_t annotationAreas = 0;  // page areas, rounded up
  // The bound the page passes, or what makes it unboundable; null when it
  // keeps within every bound. The walk stops at the first.
  const char* refusal = nullptr;
};

// Walks the page's streams until `end`; a page not measured by then is
// refused as too slow.
PageCost measurePageCost(Page* page, XRef* xref, std::chrono::steady_clock::time_point end);

}  // namespace brindlewox
