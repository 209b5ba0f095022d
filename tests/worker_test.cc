// The decoding worker gives the tool the very pixels drawing in-process
// gives: the same fonts found, the same codecs, nothing lost in the
// hand-over. A filter that refused what fontconfig or Poppler read while
// drawing would change the text's shapes here first.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <opencv2/core.hpp>

#include "pipeline/page_rendering.h"
#include "platform/image/bitmap_pixels.h"
#include "platform/image/image_decoder.h"
#include "platform/pdf/pdf_document.h"
#include "platform/worker/decoding_worker.h"

namespace brindlewox {
namespace {

const std::string kData = BRINDLEWOX_TESTDATA;

std::chrono::steady_clock::time_point aMinute() { return std::chrono::steady_clock::now() + std::chrono::minutes(1); }

void expectSamePixels(const Bitmap& got, const Bitmap& want) {
  ASSERT_EQ(got.width(), want.width());
  ASSERT_EQ(got.height(), want.height());
  EXPECT_EQ(cv::norm(got.pixels().bgr, want.pixels().bgr, cv::NORM_INF), 0.0);
}

TEST(DecodingWorker, DrawsEveryPageAsThisProcessDoes) {
  // Standard fonts found through fontconfig, embedded CJK fonts, a turned page, bilevel scans.
  for (const char* file : {"rotate90.pdf", "columns_chinese.pdf", "bilevel_scans.pdf"}) {
    SCOPED_TRACE(file);
    Result<DecodingWorker> worker = DecodingWorker::openPDF(kData + "/" + file);
    Result<PDFDocument> document = PDFDocument::open(kData + "/" + file);
    ASSERT_TRUE(worker);
    ASSERT_TRUE(document);
    ASSERT_EQ(worker.value().pageCount(), document.value().pageCount());
    for (std::int64_t number = 1; number <= document.value().pageCount(); ++number) {
      const Result<Bitmap> drawn = renderPDFPage(worker.value(), number);
      const std::optional<PDFPage> page = document.value().page(number - 1);
      ASSERT_TRUE(page);
      const Result<Bitmap> own = renderPDFPage(document.value(), *page, number);
      ASSERT_TRUE(drawn);
      ASSERT_TRUE(own);
      expectSamePixels(drawn.value(), own.value());
    }
    // A page past the end fails that page, and the worker still answers.
    EXPECT_FALSE(worker.value().describePage(document.value().pageCount() + 1, aMinute()));
    EXPECT_TRUE(worker.value().describePage(1, aMinute()));
  }
}

TEST(DecodingWorker, DecodesEveryImageFormatAsThisProcessDoes) {
  for (const char* file : {"english.png", "english.jpg", "english.tiff", "english.bmp", "english.webp",
                           "english.heic", "exif_rotated.jpg"}) {
    SCOPED_TRACE(file);
    const Result<Bitmap> decoded = DecodingWorker::decodeImage(kData + "/" + file);
    const Result<Bitmap> own = imageFromFile(kData + "/" + file);
    ASSERT_TRUE(decoded);
    ASSERT_TRUE(own);
    expectSamePixels(decoded.value(), own.value());
  }
  EXPECT_FALSE(DecodingWorker::decodeImage(kData + "/hostile_gif_named.png"));
  EXPECT_FALSE(DecodingWorker::decodeImage(kData + "/no such file.png"));
}

}  // namespace
}  // namespace brindlewox
