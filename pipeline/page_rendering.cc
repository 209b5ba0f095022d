#include "pipeline/page_rendering.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "platform/worker/worker_limits.h"

namespace brindlewox {

std::optional<RenderSize> renderSize(double width, double height) {
  width = std::fabs(width);
  height = std::fabs(height);
  // Negated tests so that NaN fails them too; an infinite side has no size.
  if (!(width > 0) || !std::isfinite(width)) return std::nullopt;
  if (!(height > 0) || !std::isfinite(height)) return std::nullopt;
  const double longest = width <= height ? height : width;
  const double scale = std::min(kMaxRenderSide / longest, kMaxRenderScale);
  auto pixels = [scale](double side) {
    return std::max(1, static_cast<int>(std::ceil(side * scale)));
  };
  return RenderSize{scale, pixels(width), pixels(height)};
}

std::optional<RenderSize> renderSize(double width, double height, int rotation) {
  std::optional<RenderSize> size = renderSize(width, height);
  if (size && (rotation == 90 || rotation == 270)) std::swap(size->pixelWidth, size->pixelHeight);
  return size;
}

Result<Bitmap> renderPDFPage(DecodingWorker& worker, std::int64_t pageNumber) {
  const auto deadline = std::chrono::steady_clock::now() + worker::kPageDeadline;
  const std::optional<PageGeometry> page = worker.describePage(pageNumber, deadline);
  if (!page) return OCRError::pageRenderFailed(pageNumber);
  const PageBox& box = page->mediaBox;
  const std::optional<RenderSize> size = renderSize(box.width, box.height, page->rotation);
  if (!size) return OCRError::pageRenderFailed(pageNumber);
  std::optional<Bitmap> bitmap =
      worker.drawPage(pageNumber, size->scale, size->pixelWidth, size->pixelHeight, deadline);
  if (!bitmap) return OCRError::pageRenderFailed(pageNumber);
  return std::move(*bitmap);
}

}  // namespace brindlewox
