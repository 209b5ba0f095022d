// Drawing a page in this process, for the benchmarks; an object of its own,
// so that the engine (which never draws in-process) does not link Poppler.
#include <utility>

#include "pipeline/page_rendering.h"

namespace brindlewox {

Result<Bitmap> renderPDFPage(PDFDocument& document, const PDFPage& page, std::int64_t pageNumber) {
  const PageBox box = page.mediaBox();
  const std::optional<RenderSize> size = renderSize(box.width, box.height, page.rotation());
  if (!size) return OCRError::pageRenderFailed(pageNumber);
  std::optional<Bitmap> bitmap =
      document.render(page, size->scale, size->pixelWidth, size->pixelHeight);
  if (!bitmap) return OCRError::pageRenderFailed(pageNumber);
  return std::move(*bitmap);
}

}  // namespace brindlewox
