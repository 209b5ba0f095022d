#include "platform/pdf_document.h"

#include <GlobalParams.h>
#include <Page.h>
#include <PDFDoc.h>
#include <SplashOutputDev.h>
#include <splash/SplashBitmap.h>

#include <chrono>
#include <cmath>
#include <set>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "platform/bitmap_pixels.h"

namespace brindlewox {

namespace {

// Drawing one page may not take longer than this: a page whose content never
// ends (or is built to take hours) fails instead of hanging the parent. Real
// pages draw in well under a second; a parent's watchdog should still see the
// failure line within half a minute, so the limit leaves room for the one
// operator that is running when it passes.
constexpr std::chrono::seconds kPageDrawingLimit{15};

// Poppler notices the drawing limit only between drawing operators, so the
// decoded content a page's drawing would parse is bounded before it starts: a
// small stream that inflates to a gigabyte of stray operands or whitespace
// would otherwise keep the parser busy for minutes. Text pages hold tens of
// kilobytes and dense drawings a few megabytes; 32 MiB of bare operands (the
// slowest content to parse, as no operator ever checks the time) takes a few
// seconds.
constexpr std::int64_t kPageContentLimit = std::int64_t{32} << 20;

// How deep forms inside forms (or patterns, glyphs) are followed: far deeper
// than real pages nest them; the bound keeps a crafted chain off the stack's end.
constexpr int kResourceNesting = 100;

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

// Counts the decoded bytes of every content stream that drawing a page parses:
// its own, and those of its forms, tiling patterns, Type 3 glyphs and
// annotation appearances, each stream once however often it is drawn.
class ContentScan {
 public:
  explicit ContentScan(std::chrono::steady_clock::time_point end) : end_(end) {}

  // False once the budget or the time is used up.
  bool page(Page* page) {
    const Object contents = page->getContents();
    if (contents.isArray()) {
      for (int i = 0; i < contents.arrayGetLength() && !overrun_; ++i) stream(contents.arrayGet(i));
    } else {
      stream(contents);
    }
    resources(*page->getResourceDictObject(), 0);
    const Object annotations = page->getAnnotsObject();
    for (int i = 0; annotations.isArray() && i < annotations.arrayGetLength() && !overrun_; ++i) {
      const Object annotation = annotations.arrayGet(i);
      if (!annotation.isDict()) continue;
      const Object appearance = annotation.dictLookup("AP");
      if (appearance.isDict()) streams(appearance.dictLookup("N"), 0);
    }
    return !overrun_;
  }

  std::int64_t bytes() const { return bytes_; }

 private:
  // A stream, or a dictionary of streams (as named resources and appearance
  // states are), each read with the resources it names.
  void streams(const Object& entries, int depth) {
    if (entries.isStream()) {
      formLike(entries, depth);
      return;
    }
    if (!entries.isDict()) return;
    for (int i = 0; i < entries.dictGetLength() && !overrun_; ++i) {
      const Object& reference = entries.dictGetValNF(i);
      if (reference.isRef() && !seen_.insert(reference.getRef()).second) continue;
      formLike(entries.dictGetVal(i), depth);
    }
  }

  void formLike(const Object& object, int depth) {
    if (!object.isStream() || depth > kResourceNesting) return;
    // Images are decoded by their own size, never parsed as operators.
    if (object.streamGetDict()->lookup("Subtype").isName("Image")) return;
    stream(object);
    resources(object.streamGetDict()->lookup("Resources"), depth + 1);
  }

  void resources(const Object& dict, int depth) {
    if (!dict.isDict() || depth > kResourceNesting) return;
    streams(dict.dictLookup("XObject"), depth);
    streams(dict.dictLookup("Pattern"), depth);
    const Object fonts = dict.dictLookup("Font");
    for (int i = 0; fonts.isDict() && i < fonts.dictGetLength() && !overrun_; ++i) {
      const Object& reference = fonts.dictGetValNF(i);
      if (reference.isRef() && !seen_.insert(reference.getRef()).second) continue;
      const Object font = fonts.dictGetVal(i);
      if (!font.isDict() || !font.dictLookup("Subtype").isName("Type3")) continue;
      streams(font.dictLookup("CharProcs"), depth + 1);
      resources(font.dictLookup("Resources"), depth + 1);
    }
  }

  // Decodes one stream to its end, or until the budget or the time runs out.
  void stream(const Object& object) {
    if (!object.isStream() || overrun_) return;
    Stream* stream = object.getStream();
    stream->reset();
    int read = 0;
    while ((read = stream->doGetChars(static_cast<int>(buffer_.size()), buffer_.data())) > 0) {
      bytes_ += read;
      if (bytes_ > kPageContentLimit || std::chrono::steady_clock::now() > end_) {
        overrun_ = true;
        break;
      }
    }
    stream->close();
  }

  std::chrono::steady_clock::time_point end_;
  std::set<Ref> seen_;
  std::int64_t bytes_ = 0;
  bool overrun_ = false;
  std::vector<unsigned char> buffer_ = std::vector<unsigned char>(std::size_t{1} << 16);
};

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

std::optional<std::int64_t> PDFDocument::contentBytes(const PDFPage& page) const {
  ContentScan scan(std::chrono::steady_clock::now() + kPageDrawingLimit);
  if (!scan.page(page.page_)) return std::nullopt;
  return scan.bytes();
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
  if (!ContentScan(deadline.end).page(page.page_)) return std::nullopt;
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
