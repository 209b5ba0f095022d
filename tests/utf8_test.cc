#include "platform/recognizer/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brindlewox {
namespace {

using Points = std::vector<std::string>;

TEST(Utf8, SplitsTextIntoCodePointsOfEveryLength) {
  EXPECT_EQ(utf8::codePoints("a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80z"),
            (Points{"a", "\xc3\xa9", "\xe4\xb8\xad", "\xf0\x9f\x98\x80", "z"}));  // a é 中 😀 z
  EXPECT_EQ(utf8::codePoints(""), Points{});
}

TEST(Utf8, KeepsMalformedBytesAsTheyCome) {
  // A continuation byte with nothing before it stands alone; a sequence cut
  // short ends where the next lead byte starts.
  EXPECT_EQ(utf8::codePoints("\x80\x80"
                             "a"),
            (Points{"\x80\x80", "a"}));
  EXPECT_EQ(utf8::codePoints("\x80"
                             "a\x80"),
            (Points{"\x80", "a\x80"}));
  EXPECT_EQ(utf8::codePoints("\xe4\xb8"
                             "a"),
            (Points{"\xe4\xb8", "a"}));
}

TEST(Utf8, DecodesASymbolThatIsOneWholeSequence) {
  EXPECT_EQ(utf8::codePoint("a"), U'a');
  EXPECT_EQ(utf8::codePoint("\xc3\xa9"), U'\u00e9');
  EXPECT_EQ(utf8::codePoint("\xe4\xb8\xad"), U'\u4e2d');
  EXPECT_EQ(utf8::codePoint("\xef\xbc\x8c"), U'\uff0c');  // ，
  EXPECT_EQ(utf8::codePoint("\xf0\x9f\x98\x80"), U'\U0001f600');
  // Anything else is no code point.
  EXPECT_EQ(utf8::codePoint(""), 0U);
  EXPECT_EQ(utf8::codePoint("ab"), 0U);
  EXPECT_EQ(utf8::codePoint("\xe4\xb8\xad\xe6\x96\x87"), 0U);  // two characters
  EXPECT_EQ(utf8::codePoint("\xe4\xb8"), 0U);                  // cut short
  EXPECT_EQ(utf8::codePoint("\xe4\x41\x41"), 0U);              // no continuation bytes
  EXPECT_EQ(utf8::codePoint("\x80"), 0U);                      // a continuation byte alone
  EXPECT_EQ(utf8::codePoint("\xff"), 0U);
}

}  // namespace
}  // namespace brindlewox
