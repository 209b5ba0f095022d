// UTF-8 text taken apart into code points, for the recogniser's rules on
// scripts: the dictionary's symbols and recognised lines are UTF-8 strings.
// Malformed bytes are kept, never rejected: a rule about scripts should
// leave a line it cannot read as it is, not fail it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brindlewox::utf8 {

// The text's code points, each as its UTF-8 bytes. A continuation byte with
// no lead byte before it stands alone.
std::vector<std::string> codePoints(std::string_view text);

// The code point of a symbol that is one whole UTF-8 sequence; 0 for anything
// else (empty, several code points, a sequence cut short or malformed).
char32_t codePoint(std::string_view symbol);

}  // namespace brindlewox::utf8
