#include "services/text_services.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <vector>

namespace brindlewox {

namespace {

std::u16string toUTF16(std::string_view utf8, bool& ok) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, utf8.data(), static_cast<int32_t>(utf8.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
    ok = false;
    return {};
  }
  std::u16string out(static_cast<std::size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8(out.data(), length, nullptr, utf8.data(), static_cast<int32_t>(utf8.size()),
                &status);
  ok = U_SUCCESS(status);
  return out;
}

std::string toUTF8(const std::u16string& utf16, bool& ok) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strToUTF8(nullptr, 0, &length, utf16.data(), static_cast<int32_t>(utf16.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
    ok = false;
    return {};
  }
  std::string out(static_cast<std::size_t>(length), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), length, nullptr, utf16.data(), static_cast<int32_t>(utf16.size()),
              &status);
  ok = U_SUCCESS(status);
  return out;
}

}  // namespace

std::string lowercased(std::string_view utf8) {
  bool ok = true;
  const std::u16string wide = toUTF16(utf8, ok);
  if (!ok) return std::string(utf8);
  UErrorCode status = U_ZERO_ERROR;
  const int32_t needed =
      u_strToLower(nullptr, 0, wide.data(), static_cast<int32_t>(wide.size()), "", &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::string(utf8);
  std::u16string lower(static_cast<std::size_t>(needed), u'\0');
  status = U_ZERO_ERROR;
  u_strToLower(lower.data(), needed, wide.data(), static_cast<int32_t>(wide.size()), "", &status);
  if (U_FAILURE(status)) return std::string(utf8);
  std::string out = toUTF8(lower, ok);
  return ok ? out : std::string(utf8);
}

bool isInlineWhitespace(char32_t c) {
  return c == U'\t' || u_charType(static_cast<UChar32>(c)) == U_SPACE_SEPARATOR;
}

bool isWhitespaceOrNewline(char32_t c) {
  if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
  const int8_t type = u_charType(static_cast<UChar32>(c));
  return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

std::string_view trimmed(std::string_view text, bool (*inSet)(char32_t)) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  int32_t begin = 0;
  while (begin < length) {
    int32_t next = begin;
    UChar32 c = 0;
    U8_NEXT(bytes, next, length, c);
    if (c < 0 || !inSet(static_cast<char32_t>(c))) break;
    begin = next;
  }
  int32_t end = length;
  while (end > begin) {
    int32_t previous = end;
    UChar32 c = 0;
    U8_PREV(bytes, begin, previous, c);
    if (c < 0 || !inSet(static_cast<char32_t>(c))) break;
    end = previous;
  }
  return text.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

}  // namespace brindlewox
