#include "document/ocr_error.h"

#include <utility>

namespace brindlewox {

OCRError OCRError::unsupportedType(std::string lowerCasedExtension) {
  return {Kind::unsupportedType, std::move(lowerCasedExtension), 0};
}

OCRError OCRError::pageRenderFailed(std::int64_t page) {
  return {Kind::pageRenderFailed, {}, page};
}

OCRError OCRError::invalidArguments() {
  return {Kind::invalidArguments, {}, 0};
}

OCRError OCRError::unreadableInput() {
  return {Kind::unreadableInput, {}, 0};
}

std::string OCRError::errorDescription() const {
  switch (kind) {
    case Kind::unsupportedType:
      return "OCR does not support ." + extension + " files.";
    case Kind::pageRenderFailed:
      return "Could not render PDF page " + std::to_string(pageNumber) + " for OCR.";
    case Kind::invalidArguments:
      return "Usage: brindlewox-ocr INPUT OUTPUT [--pages 1,2,3] [--progress-start 0] "
             "[--progress-end 100]";
    case Kind::unreadableInput:
      return "The image or PDF could not be opened.";
  }
  return {};
}

std::string localizedDescription(const Failure& failure) {
  if (const auto* own = std::get_if<OCRError>(&failure)) return own->errorDescription();
  return std::get<PlatformError>(failure).description;
}

}  // namespace brindlewox
