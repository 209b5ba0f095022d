// OCRError is the closed set of failures the tool detects itself; PlatformError
// carries a failure reported by a service (recogniser, file system) with that
// service's own description. Both are plain values: created where the failure
// is found, carried unchanged to the run driver inside a Failure.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace brindlewox {

struct OCRError {
  enum class Kind { unsupportedType, pageRenderFailed, invalidArguments, unreadableInput };

  Kind kind;
  std::string extension;    // unsupportedType: the lower-cased extension
  std::int64_t pageNumber;  // pageRenderFailed: the 1-based page number

  static OCRError unsupportedType(std::string lowerCasedExtension);
  static OCRError pageRenderFailed(std::int64_t page);
  static OCRError invalidArguments();
  static OCRError unreadableInput();

  // The one-line English message, without a line break.
  std::string errorDescription() const;
};

struct PlatformError {
  std::string description;
};

using Failure = std::variant<OCRError, PlatformError>;

// The text the failure line carries after "OCR failed: ".
std::string localizedDescription(const Failure& failure);

}  // namespace brindlewox
