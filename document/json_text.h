// Small writers for the exact JSON text the tool emits: strings escaped the
// way the parent expects (solidus included), and numbers in their shortest
// round-trip form. No general JSON library gives this byte layout.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace brindlewox {

// Appends `text` as a quoted JSON string: ", \ and / behind a reverse
// solidus; \n \r \t \b \f as two-character escapes; other controls as \u00XX;
// everything else, non-ASCII included, as its UTF-8 bytes.
void appendJSONString(std::string& out, std::string_view text);

// The shortest decimal text that reads back as `value`, a whole value
// without fraction or exponent (0, 1). Absent for NaN and infinities.
std::optional<std::string> jsonNumber(double value);

}  // namespace brindlewox
