#include "platform/pdf_document.h"

#include <GlobalParams.h>
#include <Page.h>
#include <PDFDoc.h>
#include <SplashOutputDev.h>
#include <splash/SplashBitmap.h>

#include <chrono>
#include <cmath>

#include <opencv2/imgproc.hpp>

#include "platform/bitmap_pixels.h"

namespace brindlewox {

namespace {

void discardPopplerMessage(ErrorCategory /*category*/, Goffset /*position*/, const char* /*message*/) {}

void initialisePoppler() {
  static const bool initialised = [] {
    setErrorCallback(discardPopplerMessage);
    globalParams = std::make_unique<GlobalParams>();
    globalParams->setErrQuiet(true);
    // Quiet and without a callback, Poppler drops a message before formatting
    // it, which makes a content stream full of errors parse twice as fast.
    setErrorCallback(nullptr);
    return true;
  }();
  (void)initialised;
}

struct DrawingDeadline {
  std::chrono::steady_clock::time_point end;
  bool expired = false;
};

bool drawingTooLong(void* data) {
  auto* deadline = static_cast<DrawingDeadline*>(data);
  if (std::chrono::steady_clock::now() > deadline->end) deadline->expired = true;
  return deadline->expired;
}

}  // namespace

PageBox PDFPage::mediaBox() const {
  const PDFRectangle* box = page_->getMediaBox();
  return {box->x1, box->y1, box->x2 - box->x1, box->y2 - box->y1};
}

int PDFPage::rotation() const {
  const int rotate = page_->getRotate() % 360;
  return rotate < 0 ? rotate + 360 : rotate;
}

PDFDocument::PDFDocument(std::unique_ptr<PDFDoc> document) : document_(std::move(document)) {}
PDFDocument::PDFDocument(PDFDocument&&) noexcept = default;
PDFDocument& PDFDocument::operator=(PDFDocument&&) noexcept = default;
PDFDocument::~PDFDocument() = default;

Result<PDFDocument> PDFDocument::open(const std::string& path) {
  initialisePoppler();
  auto document = std::make_unique<PDFDoc>(std::make_unique<GooString>(path));
  if (!document->isOk()) return OCRError::unreadableInput();
  return PDFDocument(std::move(document));
}

std::int64_t PDFDocument::pageCount() const { return std::max(0, document_->getNumPages()); }

std::optional<PDFPage> PDFDocument::page(std::int64_t index) const {
  if (index < 0 || index >= pageCount()) return std::nullopt;
  const int number = static_cast<int>(index) + 1;
  Page* page = document_->getPage(number);
  if (page == nullptr) return std::nullopt;
  return PDFPage(page, number);
}

PageCost PDFDocument::cost(const PDFPage& page) const {
  return measurePageCost(page.page_, document_->getXRef(), std::chrono::steady_clock::now() + kPageDrawingLimit);
}

std::optional<Bitmap> PDFDocument::render(const PDFPage& page, double scale, int pixelWidth, int pixelHeight) {
  if (!renderer_) {
    SplashColor white = {255, 255, 255, 255};
    renderer_ = std::make_unique<SplashOutputDev>(splashModeXBGR8, 4, false, white);
    renderer_->setFontAntialias(true);
    renderer_->setVectorAntialias(true);
    renderer_->startDoc(document_.get());
  }
  DrawingDeadline deadline{std::chrono::steady_clock::now() + kPageDrawingLimit};
  // Poppler notices the drawing limit only between operators, and some of
  // its decoders fill gigabytes within one: the page is measured first.
  if (measurePageCost(page.page_, document_->getXRef(), deadline.end).refusal != nullptr) return std::nullopt;
  const double dpi = 72.0 * scale;
  // Poppler adds the page's own /Rotate to the rotation passed here.
  document_->displayPageSlice(renderer_.get(), page.number_, dpi, dpi, 0, true, false, false, 0, 0, pixelWidth,
                              pixelHeight, drawingTooLong, &deadline);
  SplashBitmap* drawn = renderer_->getBitmap();
  if (deadline.expired || drawn == nullptr || drawn->getWidth() != pixelWidth || drawn->getHeight() != pixelHeight ||
      drawn->getDataPtr() == nullptr) {
    return std::nullopt;
  }
  // XBGR8 keeps blue, green, red, unused in memory order.
  const cv::Mat bgrx(pixelHeight, pixelWidth, CV_8UC4, drawn->getDataPtr(), static_cast<std::size_t>(drawn->getRowSize()));
  cv::Mat bgr;
  cv::cvtColor(bgrx, bgr, cv::COLOR_BGRA2BGR);
  return makeBitmap(std::move(bgr));
}

}  // namespace brindlewox
