#include "pipeline/pdf_conversion.h"

#include <cmath>

#include "document/progress_event.h"
#include "pipeline/page_rendering.h"
#include "pipeline/text_recognition.h"
#include "platform/worker/decoding_worker.h"
#include "platform/recognizer/text_recognizer.h"

namespace brindlewox {

std::vector<std::int64_t> pdfWorkList(std::int64_t pageCount, const PageSelection& selection) {
  std::vector<std::int64_t> pages;
  if (selection) {
    for (const std::int64_t page : *selection) {  // a set iterates in ascending order
      if (page >= 1 && page <= pageCount) pages.push_back(page);
    }
    return pages;
  }
  for (std::int64_t page = 1; page <= pageCount; ++page) pages.push_back(page);
  return pages;
}

std::int64_t progressPercent(std::int64_t start, std::int64_t end, std::int64_t completed, std::int64_t total) {
  const double share = static_cast<double>(completed) / static_cast<double>(total);
  return start + static_cast<std::int64_t>(std::round(share * static_cast<double>(end - start)));
}

namespace {

// One page, start to finish; its bitmap ends with this call.
Result<OCRPage> convertPage(DecodingWorker& worker, std::int64_t pageNumber) {
  const Result<Bitmap> bitmap = renderPDFPage(worker, pageNumber);
  if (!bitmap) return bitmap.failure();
  Result<RecognizedText> recognized = recognizeText(bitmap.value());
  if (!recognized) return recognized.failure();
  return OCRPage{pageNumber, std::move(recognized.value().text), recognized.value().confidence};
}

}  // namespace

Result<OCRDocument> convertPDF(const std::string& input, const PageSelection& selection, std::int64_t progressStart,
                               std::int64_t progressEnd, const OpenOutput& openOutput) {
  // Poppler runs in a worker process; this process only ever sees pixels.
  Result<DecodingWorker> document = DecodingWorker::openPDF(input);
  if (!document) return document.failure();
  // Before the networks load, so that a bad OUTPUT costs nothing more.
  if (const Status output = openOutput(); !output) return output.failure();
  const RecognizerLoad load;  // while the first page is drawn
  const std::int64_t pageCount = document.value().pageCount();
  const std::vector<std::int64_t> workList = pdfWorkList(pageCount, selection);
  const auto total = static_cast<std::int64_t>(workList.size());

  std::vector<OCRPage> pages;
  pages.reserve(workList.size());
  for (std::int64_t i = 0; i < total; ++i) {
    Result<OCRPage> page = convertPage(document.value(), workList[static_cast<std::size_t>(i)]);
    if (!page) return page.failure();
    pages.push_back(std::move(page).value());
    emitProgress(progressPercent(progressStart, progressEnd, i + 1, total), kOCRStage, i + 1, total);
  }
  return OCRDocument{kEngineName, pageCount, std::move(pages)};
}

}  // namespace brindlewox
