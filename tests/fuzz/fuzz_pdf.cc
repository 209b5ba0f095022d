// Opens arbitrary bytes as a PDF and draws its first page at an eighth of
// the normal scale: any input must end in a document, a bitmap or a clean
// refusal.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "pipeline/page_rendering.h"
#include "platform/pdf/pdf_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/fuzz_pdf_" + std::to_string(::getpid()) + ".pdf";
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  brindlewox::Result<brindlewox::PDFDocument> document = brindlewox::PDFDocument::open(path);
  if (!document) return 0;
  if (document.value().pageCount() < 1) return 0;
  const std::optional<brindlewox::PDFPage> page = document.value().page(0);
  if (!page) return 0;
  const brindlewox::PageBox box = page->mediaBox();
  const std::optional<brindlewox::RenderSize> full =
      brindlewox::renderSize(box.width, box.height, page->rotation());
  if (!full) return 0;
  const int width = std::max(1, full->pixelWidth / 8);
  const int height = std::max(1, full->pixelHeight / 8);
  (void)document.value().render(*page, full->scale / 8, width, height);
  return 0;
}
