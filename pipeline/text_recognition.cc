#include "pipeline/text_recognition.h"

#include <utility>

#include "platform/recognizer/text_recognizer.h"

namespace brindlewox {

Result<RecognizedText> recognizeText(const Bitmap& image) {
  Result<std::vector<TextObservation>> observations = recognizeObservations(image);
  if (!observations) return observations.failure();
  const double aspect = static_cast<double>(image.width()) / static_cast<double>(image.height());
  return assembleText(observations.value(), aspect);
}

}  // namespace brindlewox
