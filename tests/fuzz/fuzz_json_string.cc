// The JSON string writer on arbitrary UTF-8: the output is one valid JSON
// string with no raw control character, and decoding it gives the input back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "document/json_text.h"

namespace {

bool isValidUTF8(const std::uint8_t* s, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t c = s[i];
    std::size_t extra = 0;
    std::uint32_t code = 0;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if ((c & 0xE0) == 0xC0) {
      extra = 1;
      code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      code = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= n) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (s[i + k] & 0x3F);
    }
    const std::uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (code < minimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
      return false;
    i += extra + 1;
  }
  return true;
}

// A strict decoder for exactly one JSON string; aborts on anything else.
std::string decode(const std::string& json) {
  if (json.size() < 2 || json.front() != '"' || json.back() != '"') std::abort();
  std::string out;
  for (std::size_t i = 1; i + 1 < json.size(); ++i) {
    const char c = json[i];
    if (static_cast<unsigned char>(c) < 0x20 || c == '"') std::abort();
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    if (++i + 1 >= json.size()) std::abort();
    switch (json[i]) {
      case '"':
        out.push_back('"');
        break;
      case '\\':
        out.push_back('\\');
        break;
      case '/':
        out.push_back('/');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'u': {
        if (i + 4 >= json.size()) std::abort();
        const unsigned long code = std::strtoul(json.substr(i + 1, 4).c_str(), nullptr, 16);
        if (code >= 0x20) std::abort();  // only control characters are written this way
        out.push_back(static_cast<char>(code));
        i += 4;
        break;
      }
      default:
        std::abort();
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!isValidUTF8(data, size)) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string json;
  brindlewox::appendJSONString(json, input);
  if (decode(json) != input) std::abort();
  return 0;
}
