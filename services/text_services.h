// General text services the front end and text assembly rely on: full
// Unicode lower-casing and the two whitespace sets used for trimming. Backed
// by ICU so the answers do not depend on the process locale.
#pragma once

#include <string>
#include <string_view>

namespace brindlewox {

// Full Unicode lower-casing with the root locale (".ÄBC" gives ".äbc").
// Bytes that are not valid UTF-8 are kept as they are.
std::string lowercased(std::string_view utf8);

// Tab and the space separators (general category Zs): the set trimmed from
// the entries of a page list. Line breaks are not in it.
bool isInlineWhitespace(char32_t c);

// General category Z*, U+0009..U+000D and U+0085: the set trimmed from
// recognised text.
bool isWhitespaceOrNewline(char32_t c);

// `text` without the leading and trailing code points for which `inSet`
// answers true. Invalid UTF-8 is never trimmed.
std::string_view trimmed(std::string_view text, bool (*inSet)(char32_t));

}  // namespace brindlewox
