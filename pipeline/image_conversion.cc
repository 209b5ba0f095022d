#include "pipeline/image_conversion.h"

#include "document/progress_event.h"
#include "pipeline/text_recognition.h"
#include "platform/recognizer/text_recognizer.h"
#include "platform/worker/decoding_worker.h"

namespace brindlewox {

Result<OCRDocument> convertImage(const std::string& input, std::int64_t progressStart,
                                 std::int64_t progressEnd, const OpenOutput& openOutput,
                                 std::optional<WorkerProcess> worker) {
  emitProgress(progressStart, kOCRStage, 0, 1);
  const RecognizerLoad load;  // while the image is decoded
  Result<RecognizedText> recognized = [&]() -> Result<RecognizedText> {
    // The bitmap lives only until its text is read.
    // Decoded in a worker process under its limits, as a PDF is drawn.
    const Result<Bitmap> image = DecodingWorker::decodeImage(input, std::move(worker));
    if (!image) return image.failure();
    if (const Status output = openOutput(); !output) return output.failure();
    return recognizeText(image.value());
  }();
  if (!recognized) return recognized.failure();
  emitProgress(progressEnd, kOCRStage, 1, 1);
  RecognizedText& page = recognized.value();
  return OCRDocument{kEngineName, 1, {OCRPage{1, std::move(page.text), page.confidence}}};
}

}  // namespace brindlewox
