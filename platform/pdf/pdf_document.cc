#include "platform/pdf/pdf_document.h"

#include <GlobalParams.h>
#include <PDFDoc.h>
#include <Page.h>
#include <SplashOutputDev.h>
#include <Stream.h>
#include <goo/gfile.h>
#include <splash/SplashBitmap.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "platform/image/bitmap_pixels.h"

namespace brindlewox {

namespace {

void discardPopplerMessage(ErrorCategory /*category*/, Goffset /*position*/,
                           const char* /*message*/) {}

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

}  // namespace

// Splash scales an image to its whole extent on the page before clipping it
// to the page, so a two-pixel image drawn ten thousand times its size fills
// gigabytes within one operator. Such an image is not drawn, and the page is
// refused as one past any other bound.
class PageRenderer : public SplashOutputDev {
 public:
  PageRenderer() : SplashOutputDev(splashModeXBGR8, 4, false, paper()) {}

  // True once an image on the page was too large to draw; cleared for each page.
  bool refused() const { return refused_; }
  void startPage(int pageNumber, GfxState* state, XRef* xref) override {
    refused_ = false;
    largestImage_ = 0;
    skippedMasks_.clear();
    SplashOutputDev::startPage(pageNumber, state, xref);
  }
  // The largest image the page drew, in pixels of the bitmap.
  std::int64_t largestImage() const { return largestImage_; }

  void drawImageMask(GfxState* state, Object* ref, Stream* str, int width, int height, bool invert,
                     bool interpolate, bool inlineImg) override {
    if (!tooLarge(state))
      SplashOutputDev::drawImageMask(state, ref, str, width, height, invert, interpolate,
                                     inlineImg);
  }
  void drawImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                 GfxImageColorMap* colorMap, bool interpolate, const int* maskColors,
                 bool inlineImg) override {
    if (tooLarge(state)) return;
    SplashOutputDev::drawImage(state, ref, str, width, height, colorMap, interpolate, maskColors,
                               inlineImg);
  }
  void drawMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                       GfxImageColorMap* colorMap, bool interpolate, Stream* maskStr, int maskWidth,
                       int maskHeight, bool maskInvert, bool maskInterpolate) override {
    if (tooLarge(state)) return;
    SplashOutputDev::drawMaskedImage(state, ref, str, width, height, colorMap, interpolate, maskStr,
                                     maskWidth, maskHeight, maskInvert, maskInterpolate);
  }
  void drawSoftMaskedImage(GfxState* state, Object* ref, Stream* str, int width, int height,
                           GfxImageColorMap* colorMap, bool interpolate, Stream* maskStr,
                           int maskWidth, int maskHeight, GfxImageColorMap* maskColorMap,
                           bool maskInterpolate) override {
    if (tooLarge(state)) return;
    SplashOutputDev::drawSoftMaskedImage(state, ref, str, width, height, colorMap, interpolate,
                                         maskStr, maskWidth, maskHeight, maskColorMap,
                                         maskInterpolate);
  }
  // A mask set is undone by the next unset; a skipped one must skip its unset.
  void setSoftMaskFromImageMask(GfxState* state, Object* ref, Stream* str, int width, int height,
                                bool invert, bool inlineImg, double* baseMatrix) override {
    skippedMasks_.push_back(tooLarge(state));
    if (!skippedMasks_.back()) {
      SplashOutputDev::setSoftMaskFromImageMask(state, ref, str, width, height, invert, inlineImg,
                                                baseMatrix);
    }
  }
  void unsetSoftMaskFromImageMask(GfxState* state, double* baseMatrix) override {
    const bool skipped = !skippedMasks_.empty() && skippedMasks_.back();
    if (!skippedMasks_.empty()) skippedMasks_.pop_back();
    if (!skipped) SplashOutputDev::unsetSoftMaskFromImageMask(state, baseMatrix);
  }

 private:
  // Opaque white; Splash copies it.
  static SplashColorPtr paper() {
    static SplashColor white = {255, 255, 255, 255};
    return white;
  }

  // The bitmap-space box of the image's unit square, as Splash scales it.
  bool tooLarge(GfxState* state) {
    const double* m = state->getCTM();
    const double pixels = (std::fabs(m[0]) + std::fabs(m[2])) * (std::fabs(m[1]) + std::fabs(m[3]));
    if (!(pixels <= static_cast<double>(kDrawnImagePixelLimit))) {  // NaN too
      refused_ = true;
      return true;
    }
    largestImage_ = std::max(largestImage_, static_cast<std::int64_t>(pixels));
    return refused_;
  }

  bool refused_ = false;
  std::int64_t largestImage_ = 0;
  std::vector<bool> skippedMasks_;
};

namespace {

struct DrawingDeadline {
  std::chrono::steady_clock::time_point end;
  const PageRenderer* renderer;
  bool expired = false;
};

bool drawingTooLong(void* data) {
  auto* deadline = static_cast<DrawingDeadline*>(data);
  if (std::chrono::steady_clock::now() > deadline->end) deadline->expired = true;
  return deadline->expired || deadline->renderer->refused();
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

PDFDocument::PDFDocument(std::unique_ptr<GooFile> file, std::unique_ptr<PDFDoc> document)
    : file_(std::move(file)), document_(std::move(document)) {}
PDFDocument::PDFDocument(PDFDocument&&) noexcept = default;
PDFDocument& PDFDocument::operator=(PDFDocument&&) noexcept = default;
PDFDocument::~PDFDocument() = default;

Result<PDFDocument> PDFDocument::open(const std::string& path) {
  initialisePoppler();
  auto document = std::make_unique<PDFDoc>(std::make_unique<GooString>(path));
  if (!document->isOk()) return OCRError::unreadableInput();
  return PDFDocument(nullptr, std::move(document));
}

Result<PDFDocument> PDFDocument::open(UniqueFd file) {
  initialisePoppler();
  std::unique_ptr<GooFile> goo = GooFile::open(file.get());
  if (!goo) return OCRError::unreadableInput();
  file.release();  // the GooFile closes it
  // The document deletes its stream; the file stays with this object.
  auto* stream = new FileStream(goo.get(), 0, false, goo->size(),
                                Object(objNull));  // NOLINT(cppcoreguidelines-owning-memory)
  auto document = std::make_unique<PDFDoc>(stream);
  if (!document->isOk()) return OCRError::unreadableInput();
  return PDFDocument(std::move(goo), std::move(document));
}

std::int64_t PDFDocument::pageCount() const {
  return std::max(0, document_->getNumPages());
}

std::optional<PDFPage> PDFDocument::page(std::int64_t index) const {
  if (index < 0 || index >= pageCount()) return std::nullopt;
  const int number = static_cast<int>(index) + 1;
  Page* page = document_->getPage(number);
  if (page == nullptr) return std::nullopt;
  return PDFPage(page, number);
}

PageCost PDFDocument::cost(const PDFPage& page) const {
  return measurePageCost(page.page_, document_->getXRef(),
                         std::chrono::steady_clock::now() + kPageDrawingLimit);
}

std::optional<Bitmap> PDFDocument::render(const PDFPage& page, double scale, int pixelWidth,
                                          int pixelHeight) {
  cv::Mat bgr(pixelHeight, pixelWidth, CV_8UC3);
  if (!render(page, scale, pixelWidth, pixelHeight, bgr.data)) return std::nullopt;
  return makeBitmap(std::move(bgr));
}

bool PDFDocument::render(const PDFPage& page, double scale, int pixelWidth, int pixelHeight,
                         std::uint8_t* bgr) {
  if (!renderer_) {
    renderer_ = std::make_unique<PageRenderer>();
    renderer_->setFontAntialias(true);
    renderer_->setVectorAntialias(true);
    renderer_->startDoc(document_.get());
  }
  DrawingDeadline deadline{std::chrono::steady_clock::now() + kPageDrawingLimit, renderer_.get()};
  // Poppler notices the drawing limit only between operators, and some of
  // its decoders fill gigabytes within one: the page is measured first.
  if (measurePageCost(page.page_, document_->getXRef(), deadline.end).refusal != nullptr)
    return false;
  const double dpi = 72.0 * scale;
  // Poppler adds the page's own /Rotate to the rotation passed here.
  document_->displayPageSlice(renderer_.get(), page.number_, dpi, dpi, 0, true, false, false, 0, 0,
                              pixelWidth, pixelHeight, drawingTooLong, &deadline);
  SplashBitmap* drawn = renderer_->getBitmap();
  if (deadline.expired || renderer_->refused() || drawn == nullptr ||
      drawn->getWidth() != pixelWidth || drawn->getHeight() != pixelHeight ||
      drawn->getDataPtr() == nullptr) {
    return false;
  }
  // XBGR8 keeps blue, green, red, unused in memory order.
  const cv::Mat bgrx(pixelHeight, pixelWidth, CV_8UC4, drawn->getDataPtr(),
                     static_cast<std::size_t>(drawn->getRowSize()));
  cv::Mat out(pixelHeight, pixelWidth, CV_8UC3, bgr);
  cv::cvtColor(bgrx, out, cv::COLOR_BGRA2BGR);
  // The drawn page is copied out: its 4 bytes a pixel are not held while the
  // page is read (the next page's drawing makes a bitmap of its own).
  delete renderer_->takeBitmap();  // NOLINT(cppcoreguidelines-owning-memory)
  return true;
}

std::int64_t PDFDocument::drawnImagePixels() const {
  return renderer_ ? renderer_->largestImage() : 0;
}

}  // namespace brindlewox
