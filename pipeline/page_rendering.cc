#include "pipeline/page_rendering.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace brindlewox {

std::optional<RenderSize> renderSize(double width, double height) {
  width = std::fabs(width);
  height = std::fabs(height);
  // Negated tests so that NaN fails them too; an infinite side has no size.
  if (!(width > 0) || !std::isfinite(width)) return std::nullopt;
  if (!(height > 0) || !std::isfinite(height)) return std::nullopt;
  const double longest = width <= height ? height : width;
  const double scale = std::min(kMaxRenderSide / longest, kMaxRenderScale);
  auto pixels = [scale](double side) { return std::max(1, static_cast<int>(std::ceil(side * scale))); };
  return RenderSize{scale, pixels(width), pixels(height)};
}

std::optional<RenderSize> renderSize(double width, double height, int rotation) {
  std::optional<RenderSize> size = renderSize(width, height);
  if (size && (rotation == 90 || rotation == 270)) std::swap(size->pixelWidth, size->pixelHeight);
  return size;
}

Result<Bitmap> renderPDFPage(PDFDocument& document, const PDFPage& page, std::int64_t pageNumber) {
  const PageBox box = page.mediaBox();
  const std::optional<RenderSize> size = renderSize(box.width, box.height, page.rotation());
  if (!size) return OCRError::pageRenderFailed(pageNumber);
  std::optional<Bitmap> bitmap = document.render(page, size->scale, size->pixelWidth, size->pixelHeight);
  if (!bitmap) return OCRError::pageRenderFailed(pageNumber);
  return std::move(*bitmap);
}

}  // namespace brindlewox
