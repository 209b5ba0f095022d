#include "app/options.h"

#include <gtest/gtest.h>

#include <limits>

#include "app/run_driver.h"

namespace brindlewox {
namespace {

TEST(DecimalInteger, AcceptsSignedAsciiDigitsWithinSixtyFourBits) {
  EXPECT_EQ(decimalInteger("42"), 42);
  EXPECT_EQ(decimalInteger("+7"), 7);
  EXPECT_EQ(decimalInteger("-5"), -5);
  EXPECT_EQ(decimalInteger("007"), 7);
  EXPECT_EQ(decimalInteger("-0"), 0);
  EXPECT_EQ(decimalInteger("+0"), 0);
  EXPECT_EQ(decimalInteger("9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(decimalInteger("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
}

TEST(DecimalInteger, RejectsEverythingElse) {
  for (const char* text :
       {"", "+", "-", "12abc", "1.5", "0x10", "1_000", " 10", "10 ", "1 0", "1e3", "--5", "+-5",
        "9223372036854775808", "-9223372036854775809", "\xd9\xa3" /* Arabic-Indic three */}) {
    EXPECT_FALSE(decimalInteger(text).has_value()) << "'" << text << "'";
  }
}

TEST(IntegerArgument, FollowsTheLookupRules) {
  const std::int64_t fallback = 100;
  auto read = [&](Arguments arguments) {
    return integerArgument("--progress-end", arguments, fallback);
  };
  EXPECT_EQ(read({"in.pdf", "out.json"}), 100);
  EXPECT_EQ(read({"in.pdf", "out.json", "--progress-end"}), 100);
  EXPECT_EQ(read({"in.pdf", "out.json", "--progress-end", "42"}), 42);
  EXPECT_EQ(read({"in.pdf", "out.json", "--progress-end", "+7"}), 7);
  EXPECT_EQ(read({"in.pdf", "out.json", "--progress-end", "-5"}), -5);
  EXPECT_EQ(read({"in.pdf", "out.json", "--progress-end", "007"}), 7);
  EXPECT_EQ(read({"in.pdf", "out.json", "--progress-end", "12abc"}), 100);
  EXPECT_EQ(read({"in.pdf", "out.json", "--progress-end", "99999999999999999999"}), 100);
  EXPECT_EQ(read({"in.pdf", "out.json", "--progress-end", "--pages", "3"}), 100);
  EXPECT_EQ(read({"in.pdf", "out.json", "--progress-end", "10", "--progress-end", "20"}), 10);
  EXPECT_EQ(read({"in.pdf", "out.json", "--progress-end", "abc", "--progress-end", "20"}), 100);
  EXPECT_EQ(read({"in.pdf", "--progress-end", "50"}), 50);
  EXPECT_EQ(read({"in.pdf", "out.json", "--progress-end=50"}), 100);
  EXPECT_EQ(read({"in.pdf", "out.json", "--Progress-End", "50"}), 100);
}

std::optional<std::set<std::int64_t>> pages(const std::string& value) {
  return selectedPageNumbers({"in.pdf", "out.json", "--pages", value});
}

TEST(SelectedPageNumbers, ReadsTheListLeniently) {
  using Set = std::set<std::int64_t>;
  EXPECT_FALSE(selectedPageNumbers({"in.pdf", "out.json"}).has_value());
  EXPECT_FALSE(selectedPageNumbers({"in.pdf", "out.json", "--pages"}).has_value());
  EXPECT_EQ(pages("1,2,3"), (Set{1, 2, 3}));
  EXPECT_EQ(pages("3 , 1 ,3"), (Set{1, 3}));
  EXPECT_EQ(pages("1,\t2"), (Set{1, 2}));
  EXPECT_EQ(pages("1,\n2"), (Set{1}));
  EXPECT_EQ(pages("1,\u00a02\u3000"), (Set{1, 2}));  // no-break and ideographic spaces are Zs
  EXPECT_EQ(pages("1,,2,"), (Set{1, 2}));
  EXPECT_FALSE(pages("2-5").has_value());
  EXPECT_EQ(pages("2-5,7"), (Set{7}));
  EXPECT_FALSE(pages("0").has_value());
  EXPECT_EQ(pages("-3,4"), (Set{4}));
  EXPECT_EQ(pages("+2"), (Set{2}));
  for (const char* nothing : {"abc", ",,,", "   ", "", "1 2"})
    EXPECT_FALSE(pages(nothing).has_value()) << nothing;
  EXPECT_EQ(pages("99999999999999999999,5"), (Set{5}));
  EXPECT_EQ(pages("500"), (Set{500}));
}

TEST(ProgressRange, ClampsStartThenEnd) {
  struct Case {
    std::optional<std::string> start, end;
    std::int64_t wantStart, wantEnd;
  };
  const Case cases[] = {
      {{}, {}, 0, 100},     {"20", "80", 20, 80},     {"150", {}, 100, 100},
      {"-20", {}, 0, 100},  {{}, "250", 0, 100},      {"60", "40", 60, 60},
      {"30", "-5", 30, 30}, {"100", "100", 100, 100}, {"abc", "x", 0, 100},
  };
  for (const Case& c : cases) {
    Arguments arguments = {"in.png", "out.json"};
    if (c.start) arguments.insert(arguments.end(), {"--progress-start", *c.start});
    if (c.end) arguments.insert(arguments.end(), {"--progress-end", *c.end});
    const ProgressRange range = progressRange(arguments);
    EXPECT_EQ(range.start, c.wantStart)
        << c.start.value_or("absent") << " " << c.end.value_or("absent");
    EXPECT_EQ(range.end, c.wantEnd)
        << c.start.value_or("absent") << " " << c.end.value_or("absent");
  }
}

TEST(ParseOptions, TakesThePathsAndEveryOptionOnce) {
  EXPECT_FALSE(parseOptions({}).has_value());
  EXPECT_FALSE(parseOptions({"only.pdf"}).has_value());
  const std::optional<Options> options = parseOptions(
      {"in.pdf", "out.json", "--progress-end", "80", "--pages", "3,1", "--progress-start", "90"});
  ASSERT_TRUE(options.has_value());
  EXPECT_EQ(options->input, "in.pdf");
  EXPECT_EQ(options->output, "out.json");
  EXPECT_EQ(options->pages, (std::set<std::int64_t>{1, 3}));
  EXPECT_EQ(options->progress.start, 90);
  EXPECT_EQ(options->progress.end, 90);  // never below the start
  // The paths are the first two arguments whatever they hold, and are
  // searched for options like the rest.
  const std::optional<Options> bare = parseOptions({"--pages", "1"});
  ASSERT_TRUE(bare.has_value());
  EXPECT_EQ(bare->input, "--pages");
  EXPECT_EQ(bare->output, "1");
  EXPECT_EQ(bare->pages, (std::set<std::int64_t>{1}));
}

TEST(ExtensionKey, IsTheLowerCasedTextAfterTheLastDot) {
  EXPECT_EQ(extensionKey("scan.PDF"), "pdf");
  EXPECT_EQ(extensionKey("photo.JPEG"), "jpeg");
  EXPECT_EQ(extensionKey("/a.b/c/archive.tar.GZ"), "gz");
  EXPECT_EQ(extensionKey("notes.TXT"), "txt");
  EXPECT_EQ(extensionKey("x.\xc3\x84\x42\x43"), "\xc3\xa4\x62\x63");  // .ÄBC gives äbc
  EXPECT_EQ(extensionKey("README"), "");
  EXPECT_EQ(extensionKey("dir.d/README"), "");
  EXPECT_EQ(extensionKey("--pages"), "");
  EXPECT_EQ(extensionKey(".profile"), "");
  EXPECT_EQ(extensionKey("scan.pdf/"), "pdf");
  EXPECT_EQ(extensionKey("trailing."), "");
}

TEST(ConvertInput, RefusesUnsupportedExtensionsBeforeOpeningAnything) {
  for (const auto& [input, message] : std::vector<std::pair<std::string, std::string>>{
           {"missing.GIF", "OCR does not support .gif files."},
           {"missing", "OCR does not support . files."},
           {"missing.jpe", "OCR does not support .jpe files."},
           {"--pages", "OCR does not support . files."}}) {
    bool outputOpened = false;
    const Result<OCRDocument> result =
        convertInput(Options{input, "out.json", std::nullopt, ProgressRange{}}, [&]() -> Status {
          outputOpened = true;
          return Done{};
        });
    ASSERT_FALSE(result.ok()) << input;
    EXPECT_EQ(localizedDescription(result.failure()), message);
    EXPECT_FALSE(outputOpened) << input;
  }
}

}  // namespace
}  // namespace brindlewox
