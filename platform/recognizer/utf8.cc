#include "platform/recognizer/utf8.h"

#include <cstddef>

namespace brindlewox::utf8 {

namespace {

unsigned byteAt(std::string_view text, std::size_t i) {
  return static_cast<unsigned char>(text[i]);
}

bool isContinuation(unsigned byte) {
  return (byte & 0xC0U) == 0x80U;
}

}  // namespace

std::vector<std::string> codePoints(std::string_view text) {
  std::vector<std::string> points;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (isContinuation(byteAt(text, i)) && !points.empty()) {
      points.back() += text[i];
    } else {
      points.emplace_back(1, text[i]);
    }
  }
  return points;
}

char32_t codePoint(std::string_view symbol) {
  if (symbol.empty()) return 0;
  const unsigned lead = byteAt(symbol, 0);
  std::size_t length = 0;
  unsigned code = 0;
  if (lead < 0x80U) {
    length = 1;
    code = lead;
  } else if ((lead & 0xE0U) == 0xC0U) {
    length = 2;
    code = lead & 0x1FU;
  } else if ((lead & 0xF0U) == 0xE0U) {
    length = 3;
    code = lead & 0x0FU;
  } else if ((lead & 0xF8U) == 0xF0U) {
    length = 4;
    code = lead & 0x07U;
  } else {
    return 0;
  }
  if (symbol.size() != length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if (!isContinuation(byteAt(symbol, i))) return 0;
    code = (code << 6U) | (byteAt(symbol, i) & 0x3FU);
  }
  return code;
}

}  // namespace brindlewox::utf8
