// Page rendering: the rasterisation policy for one PDF page. The media box is
// drawn at min(3200 / longest side, 2.6) pixels per point, sizes rounded up
// and at least 1, upright as a viewer shows it (a quarter-turned page has its
// pixel width and height exchanged).
#pragma once

#include <cstdint>
#include <optional>

#include "document/result.h"
#include "platform/image/bitmap.h"
#include "platform/worker/decoding_worker.h"

namespace brindlewox {

inline constexpr double kMaxRenderSide = 3200.0;
inline constexpr double kMaxRenderScale = 2.6;

struct RenderSize {
  double scale = 0;
  int pixelWidth = 0;
  int pixelHeight = 0;
};

// Absent when a side is not a positive finite number.
std::optional<RenderSize> renderSize(double width, double height);

// The same size with width and height exchanged for a rotation of 90 or 270.
std::optional<RenderSize> renderSize(double width, double height, int rotation);

// The page drawn by the document's worker, within the page's deadline
// (describing and drawing together). Fails with pageRenderFailed(pageNumber).
Result<Bitmap> renderPDFPage(DecodingWorker& worker, std::int64_t pageNumber);

// The same drawn in this process, without the worker's limits: for the
// benchmarks that study drawing itself, never for untrusted input in the tool.
Result<Bitmap> renderPDFPage(PDFDocument& document, const PDFPage& page, std::int64_t pageNumber);

}  // namespace brindlewox
