// Broken and hostile inputs through the real binary: each must end with a
// valid document (status 0) or one failure line (status 1), in bounded time
// and memory, with OUTPUT untouched on failure and nothing stray on stderr.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/run_binary.h"

namespace brindlewox {
namespace {

namespace fs = std::filesystem;
using testing::lines;
using testing::readFile;
using testing::runBinary;
using testing::RunResult;

const std::string kData = BRINDLEWOX_TESTDATA;
const std::string kUnreadable = "OCR failed: The image or PDF could not be opened.";
constexpr auto kWallClockBound = std::chrono::seconds(60);

// The address-space limit every hostile run gets; a sanitizer build reserves
// far more virtual memory than it uses, so it runs without one.
std::vector<std::string> memoryBound() {
#ifdef BRINDLEWOX_SANITIZED
  return {};
#else
  return {"/usr/bin/prlimit", "--as=" + std::to_string(std::uint64_t{2} << 30), "--"};
#endif
}

struct Expectation {
  std::string input;       // a file in the test data, or a path made by the test
  int status;              // 0 or 1
  std::string lastLine;    // the failure line for status 1; empty when not checked
};

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = testing::freshTestDirectory("brindlewox-hostile-");
    output_ = (directory_ / "out.json").string();
  }
  void TearDown() override { fs::remove_all(directory_); }

  void check(const Expectation& want, const std::vector<std::string>& extra = {},
             std::chrono::seconds bound = kWallClockBound) {
    std::ofstream(output_) << "previous";
    std::vector<std::string> arguments = {want.input, output_};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const auto start = std::chrono::steady_clock::now();
    const RunResult result = runBinary(arguments, directory_.string(), memoryBound());
    const auto elapsed = std::chrono::steady_clock::now() - start;
    SCOPED_TRACE(want.input);
    EXPECT_LT(elapsed, bound);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, want.status) << result.standardError;
    EXPECT_EQ(result.standardOutput, "");
    const std::vector<std::string> got = lines(result.standardError);
    for (std::size_t i = 0; i < got.size(); ++i) {
      const bool progress = got[i].rfind("BRINDLEWOX_PROGRESS {", 0) == 0 && got[i].back() == '}';
      const bool lastFailure = i + 1 == got.size() && got[i].rfind("OCR failed: ", 0) == 0;
      EXPECT_TRUE(progress || lastFailure) << got[i];
    }
    EXPECT_TRUE(result.standardError.empty() || result.standardError.back() == '\n');
    const std::string document = readFile(output_);
    if (want.status == 0) {
      EXPECT_EQ(document.rfind("{\n  \"engine\" : \"macOS Vision\",\n  \"pageCount\" : ", 0), 0U) << document;
      EXPECT_EQ(document.back(), '}');
    } else {
      EXPECT_EQ(document, "previous");
      ASSERT_FALSE(got.empty());
      if (!want.lastLine.empty()) {
        EXPECT_EQ(got.back(), want.lastLine);
      }
    }
  }

  fs::path directory_;
  std::string output_;
};

TEST_F(HostileInput, BrokenPDFsFailCleanlyOrAreRepaired) {
  const Expectation cases[] = {
      {kData + "/hostile_truncated.pdf", 1, kUnreadable},
      {kData + "/hostile_garbage.pdf", 1, kUnreadable},
      {kData + "/hostile_encrypted.pdf", 1, kUnreadable},
      {kData + "/hostile_damaged_xref.pdf", 0, ""},
      {kData + "/hostile_zero_pages.pdf", 0, ""},
      {kData + "/hostile_million_pages.pdf", 0, ""},
      {kData + "/hostile_garbage_content.pdf", 0, ""},
  };
  for (const Expectation& c : cases) check(c);
  check({kData + "/hostile_damaged_xref.pdf", 0, ""});
  EXPECT_NE(readFile(output_).find("Page one is about apples"), std::string::npos);
}

TEST_F(HostileInput, ExtremePageBoxesAreBoundedOrRefused) {
  check({kData + "/hostile_huge_media_box.pdf", 0, ""});
  check({kData + "/hostile_negative_media_box.pdf", 0, ""});
  EXPECT_NE(readFile(output_).find("Flipped box"), std::string::npos);
  check({kData + "/hostile_infinite_media_box.pdf", 1, "OCR failed: Could not render PDF page 1 for OCR."});
}

// Tens of kilobytes that inflate to over a gigabyte of operands, in the page
// itself or in a form it draws: refused before the parser spends minutes on
// them, in time for a parent's watchdog.
TEST_F(HostileInput, DecompressionBombsFailTheirPageInTime) {
  constexpr auto kWatchdog = std::chrono::seconds(30);
  check({kData + "/hostile_flate_bomb.pdf", 1, "OCR failed: Could not render PDF page 1 for OCR."}, {}, kWatchdog);
  check({kData + "/hostile_form_bomb.pdf", 1, "OCR failed: Could not render PDF page 1 for OCR."}, {}, kWatchdog);
}

TEST_F(HostileInput, ImagesTooLargeOrBrokenAreRefusedBeforeDecoding) {
  for (const char* file : {"hostile_huge_declared.png", "hostile_too_many_pixels.png", "hostile_zero_size.png",
                           "hostile_empty.png", "hostile_gif_named.png", "hostile_animated.webp"}) {
    check({kData + "/" + file, 1, kUnreadable});
  }
  // What survives of a cut JPEG is still read.
  check({kData + "/hostile_truncated.jpg", 0, ""});
}

TEST_F(HostileInput, PathsThatAreNotFilesFailWithoutTouchingAnything) {
  fs::create_directory(directory_ / "folder.pdf");
  fs::create_directory(directory_ / "folder.png");
  check({(directory_ / "folder.pdf").string(), 1, kUnreadable});
  check({(directory_ / "folder.png").string(), 1, kUnreadable});

  // A directory as OUTPUT: the work is done, the write fails, the directory stays.
  const RunResult intoDirectory = runBinary({kData + "/english.png", directory_.string()}, "", memoryBound());
  EXPECT_EQ(intoDirectory.exitStatus, 1);
  EXPECT_EQ(lines(intoDirectory.standardError).back().rfind("OCR failed: ", 0), 0U);
  EXPECT_TRUE(fs::is_directory(directory_));
}

TEST_F(HostileInput, TheInputIsNeverReplacedByItsOwnResult) {
  const fs::path copy = directory_ / "scan.png";
  fs::copy_file(kData + "/english.png", copy);
  const std::string before = readFile(copy.string());
  const RunResult result = runBinary({copy.string(), (directory_ / "." / "scan.png").string()});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.standardError.rfind("OCR failed: ", 0), 0U) << result.standardError;
  EXPECT_EQ(readFile(copy.string()), before);
}

TEST_F(HostileInput, NamesThatAreNotUTF8StillWork) {
  const std::string odd = (directory_ / "\xff\xfe-scan.PNG").string();
  fs::copy_file(kData + "/english.png", odd);
  const std::string oddOutput = (directory_ / "\xfe\xff.json").string();
  const RunResult result = runBinary({odd, oddOutput});
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_NE(readFile(oddOutput).find("Quarterly report"), std::string::npos);
  const RunResult unsupported = runBinary({(directory_ / "x.\xff").string(), oddOutput});
  EXPECT_EQ(unsupported.standardError, "OCR failed: OCR does not support .\xff files.\n");
}

}  // namespace
}  // namespace brindlewox
