#include "document/ocr_document.h"

#include <optional>

#include "document/json_text.h"

namespace brindlewox {

Result<std::string> encodeDocument(const OCRDocument& document) {
  std::string out = "{\n  \"engine\" : ";
  appendJSONString(out, document.engine);
  out += ",\n  \"pageCount\" : " + std::to_string(document.pageCount);
  out += ",\n  \"pages\" : [\n";
  if (document.pages.empty()) out += "\n";
  for (std::size_t i = 0; i < document.pages.size(); ++i) {
    const OCRPage& page = document.pages[i];
    const std::optional<std::string> confidence = jsonNumber(page.confidence);
    if (!confidence) {
      return PlatformError{"The result could not be encoded: page " + std::to_string(page.page) +
                           " has a confidence that is not a finite number."};
    }
    out += "    {\n      \"confidence\" : " + *confidence;
    out += ",\n      \"page\" : " + std::to_string(page.page);
    out += ",\n      \"text\" : ";
    appendJSONString(out, page.text);
    out += "\n    }";
    out += (i + 1 < document.pages.size()) ? ",\n" : "\n";
  }
  out += "  ]\n}";
  return out;
}

}  // namespace brindlewox
