#include "pipeline/pdf_conversion.h"

#include <cmath>

#include "document/progress_event.h"
#include "pipeline/page_rendering.h"
#include "pipeline/text_recognition.h"
#include "platform/recognizer/text_recognizer.h"
#include "platform/worker/decoding_worker.h"

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

std::int64_t progressPercent(std::int64_t start, std::int64_t end, std::int64_t completed,
                             std::int64_t total) {
  const double share = static_cast<double>(completed) / static_cast<double>(total);
  return start + static_cast<std::int64_t>(std::round(share * static_cast<double>(end - start)));
}

Result<OCRDocument> convertPDF(const std::string& input, const PageSelection& selection,
                               std::int64_t progressStart, std::int64_t progressEnd,
                               const OpenOutput& openOutput, std::optional<WorkerProcess> worker) {
  // The networks load on a thread of their own while the worker starts,
  // opens the PDF and draws the first page: on a run's critical path, the
  // worker's start would otherwise come before the whole load.
  const RecognizerLoad load;
  // Poppler runs in a worker process; this process only ever sees pixels.
  Result<DecodingWorker> document = DecodingWorker::openPDF(input, std::move(worker));
  if (!document) return document.failure();
  if (const Status output = openOutput(); !output) return output.failure();
  const std::int64_t pageCount = document.value().pageCount();
  const std::vector<std::int64_t> workList = pdfWorkList(pageCount, selection);
  const auto total = static_cast<std::int64_t>(workList.size());

  Result<std::vector<OCRPage>> pages = readPagesAhead<Bitmap>(
      workList, [&](std::int64_t page) { return renderPDFPage(document.value(), page); },
      [](Bitmap bitmap, std::int64_t page) -> Result<OCRPage> {
        Result<RecognizedText> recognized = recognizeText(bitmap);
        if (!recognized) return recognized.failure();
        return OCRPage{page, std::move(recognized.value().text), recognized.value().confidence};
      },
      [&](std::int64_t done) {
        emitProgress(progressPercent(progressStart, progressEnd, done, total), kOCRStage, done,
                     total);
      });
  if (!pages) return pages.failure();
  return OCRDocument{kEngineName, pageCount, std::move(pages).value()};
}

}  // namespace brindlewox
