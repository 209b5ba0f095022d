// platform/pdf/ is Poppler's side: documents and pages here, the page-cost
// walk (pdf_page_cost.h) and the codec headers it reads (codec_header.h).
//
// A PDF document opened through Poppler, and its pages. The document object
// owns the parsed file and the renderer; a PDFPage is a light handle that is
// only valid while its document lives. Poppler's own diagnostics are
// discarded so they never reach standard error.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "document/result.h"
#include "platform/image/bitmap.h"
#include "platform/pdf/pdf_page_cost.h"
#include "services/unique_fd.h"

class GooFile;
class PDFDoc;
class Page;

namespace brindlewox {

class PageRenderer;

struct PageBox {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

class PDFPage {
 public:
  PageBox mediaBox() const;
  // The page's /Rotate entry, normalised to 0, 90, 180 or 270.
  int rotation() const;

 private:
  friend class PDFDocument;
  PDFPage(Page* page, int number) : page_(page), number_(number) {}
  Page* page_;
  int number_;  // 1-based, as Poppler numbers pages
};

class PDFDocument {
 public:
  // Fails with unreadableInput when the file is missing, is not a PDF, or
  // needs a password.
  static Result<PDFDocument> open(const std::string& path);
  // The same for a file already open (the decoding worker opens its input
  // before it may open anything else); the document owns the descriptor.
  static Result<PDFDocument> open(UniqueFd file);

  PDFDocument(PDFDocument&&) noexcept;
  PDFDocument& operator=(PDFDocument&&) noexcept;
  ~PDFDocument();

  std::int64_t pageCount() const;

  // The page at a 0-based index; absent when the document has no such page.
  std::optional<PDFPage> page(std::int64_t index) const;

  // What drawing the page will cost, measured before any of it is drawn
  // (see pdf_page_cost.h); render refuses a page past a bound, as it refuses
  // one that draws past its time limit.
  PageCost cost(const PDFPage& page) const;

  // Draws the page's media box, as a viewer shows it (its /Rotate applied),
  // at `scale` pixels per point into a pixelWidth x pixelHeight bitmap on
  // opaque white. Absent when the page cannot be drawn, or is too costly to.
  std::optional<Bitmap> render(const PDFPage& page, double scale, int pixelWidth, int pixelHeight);
  // The same drawn into `bgr`, pixelWidth * pixelHeight * 3 bytes of 8-bit
  // BGR with rows packed; false where render would be absent.
  bool render(const PDFPage& page, double scale, int pixelWidth, int pixelHeight,
              std::uint8_t* bgr);

  // The largest image the last render drew, in pixels of its bitmap (the box
  // its corners span, before clipping), to set beside kDrawnImagePixelLimit.
  std::int64_t drawnImagePixels() const;

 private:
  PDFDocument(std::unique_ptr<GooFile> file, std::unique_ptr<PDFDoc> document);
  std::unique_ptr<GooFile> file_;  // only when opened from a descriptor; outlives the document
  std::unique_ptr<PDFDoc> document_;
  std::unique_ptr<PageRenderer> renderer_;  // made on first render, reused for every page
};

}  // namespace brindlewox
