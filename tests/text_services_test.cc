#include "services/text_services.h"

#include <gtest/gtest.h>

#include "document/stderr_writer.h"

#include <unistd.h>

#include <array>

namespace brindlewox {
namespace {

TEST(Lowercased, UsesFullUnicodeRules) {
  EXPECT_EQ(lowercased("PDF"), "pdf");
  EXPECT_EQ(lowercased("\xc3\x84\x42\x43"), "\xc3\xa4\x62\x63");  // ÄBC
  EXPECT_EQ(lowercased("\xce\xa3\xce\x9f\xce\xa6"),
            "\xcf\x83\xce\xbf\xcf\x86");                  // ΣΟΦ, final-sigma free
  EXPECT_EQ(lowercased("\xe2\x85\xa0"), "\xe2\x85\xb0");  // Roman numeral one
  EXPECT_EQ(lowercased("J\xff"), "J\xff");                // invalid UTF-8 kept as is
}

TEST(WhitespaceSets, SeparateInlineSpaceFromLineBreaks) {
  for (const char32_t c : {U'\t', U' ', U'\u00a0', U'\u2003', U'\u3000'})
    EXPECT_TRUE(isInlineWhitespace(c)) << static_cast<int>(c);
  for (const char32_t c : {U'\n', U'\r', U'\u000b', U'\u0085', U'\u2028', U'a', U'\u200b'}) {
    EXPECT_FALSE(isInlineWhitespace(c)) << static_cast<int>(c);
  }
  for (const char32_t c :
       {U'\t', U'\n', U'\u000b', U'\f', U'\r', U'\u0085', U' ', U'\u3000', U'\u2028', U'\u2029'}) {
    EXPECT_TRUE(isWhitespaceOrNewline(c)) << static_cast<int>(c);
  }
  for (const char32_t c : {U'a', U'\u200b', U'\ufeff', U'\u001c'})
    EXPECT_FALSE(isWhitespaceOrNewline(c)) << static_cast<int>(c);
}

TEST(Trimmed, RemovesOnlyTheSetAtBothEnds) {
  EXPECT_EQ(trimmed("\t 12 \u3000", isInlineWhitespace), "12");
  EXPECT_EQ(trimmed("\n12", isInlineWhitespace), "\n12");
  EXPECT_EQ(trimmed(" a  b \n\u2028", isWhitespaceOrNewline), "a  b");
  EXPECT_EQ(trimmed(" \n ", isWhitespaceOrNewline), "");
  EXPECT_EQ(trimmed("", isWhitespaceOrNewline), "");
  EXPECT_EQ(trimmed(" \xff ", isWhitespaceOrNewline), "\xff");
}

TEST(WriteStderr, WritesTheBytesAsGivenAndAddsNothing) {
  std::array<int, 2> fds{};
  ASSERT_EQ(::pipe(fds.data()), 0);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(fds[1], STDERR_FILENO);
  writeStderr("no line feed");
  writeStderr(" then \xe4\xb8\xad\n");
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(fds[1]);
  std::string got(64, '\0');
  const ssize_t n = ::read(fds[0], got.data(), got.size());
  ::close(fds[0]);
  ASSERT_GT(n, 0);
  got.resize(static_cast<std::size_t>(n));
  EXPECT_EQ(got, "no line feed then \xe4\xb8\xad\n");
}

}  // namespace
}  // namespace brindlewox
