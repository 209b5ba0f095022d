#include "pipeline/text_recognition.h"

#include <utility>

#include "platform/text_recognizer.h"

namespace brindlewox {

Result<RecognizedText> recognizeText(const Bitmap& image) {
  Result<std::vector<TextObservation>> observations = recognizeObservations(image);
  if (!observations) return observations.failure();
  return assembleText(std::move(observations).value());
}

}  // namespace brindlewox
