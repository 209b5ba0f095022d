// Broken and hostile inputs through the real binary: each must end with a
// valid document (status 0) or one failure line (status 1), in bounded time
// and memory, with OUTPUT untouched on failure and nothing stray on stderr.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/run_binary.h"

namespace brindlewox {
namespace {

namespace fs = std::filesystem;
using testing::lines;
using testing::pageTexts;
using testing::readFile;
using testing::runBinary;
using testing::RunResult;

const std::string kData = BRINDLEWOX_TESTDATA;
const std::string kUnreadable = "OCR failed: The image or PDF could not be opened.";
// What a parent's watchdog gives a bomb, and the memory it may ever hold.
constexpr auto kWatchdog = std::chrono::seconds(30);
constexpr std::int64_t kMemoryBound = std::int64_t{1} << 30;
// The same for an input that is read through: sanitized code recognises a
// page several times slower and keeps shadow memory and freed blocks besides
// (three pages peak near 900 MB), so there the watchdog only catches a hang.
#ifdef BRINDLEWOX_SANITIZED
constexpr auto kReadingWatchdog = std::chrono::seconds(240);
constexpr std::int64_t kReadingMemoryBound = std::int64_t{2} << 30;
#else
constexpr auto kReadingWatchdog = std::chrono::seconds(60);
constexpr std::int64_t kReadingMemoryBound = kMemoryBound;
#endif

std::string pageFailure(int page) { return "OCR failed: Could not render PDF page " + std::to_string(page) + " for OCR."; }

// The address-space limit every hostile run gets, so that a run gone wrong
// cannot take the machine's memory (what a run may hold is checked on its
// peak resident memory). A sanitizer build reserves far more virtual memory
// than it uses, so it runs without one.
std::vector<std::string> memoryBound() {
#ifdef BRINDLEWOX_SANITIZED
  return {};
#else
  return {"/usr/bin/prlimit", "--as=" + std::to_string(std::uint64_t{4} << 30), "--"};
#endif
}

// A run watched as a parent with a watchdog watches it: killed once it passes
// `limit`, with the peak of its resident memory.
struct WatchedRun {
  RunResult result;
  bool killed = false;
  std::int64_t peakResidentBytes = 0;
};

WatchedRun runWatched(const std::vector<std::string>& arguments, const std::string& directory,
                      std::chrono::seconds limit) {
  const testing::StartedBinary started = testing::startBinary(arguments, directory, memoryBound());
  WatchedRun run;
  int status = 0;
  rusage usage{};
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (::wait4(started.pid, &status, WNOHANG, &usage) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(started.pid, SIGKILL);
      ::wait4(started.pid, &status, 0, &usage);
      run.killed = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (WIFEXITED(status)) run.result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.result.signal = WTERMSIG(status);
  run.peakResidentBytes = std::int64_t{usage.ru_maxrss} * 1024;  // kilobytes on Linux
  run.result.standardOutput = readFile(started.outputPath);
  run.result.standardError = readFile(started.errorPath);
  ::unlink(started.outputPath.c_str());
  ::unlink(started.errorPath.c_str());
  return run;
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

  // Every hostile run ends within `bound` (or is killed, and fails) and never
  // holds more than `memory`.
  void check(const Expectation& want, const std::vector<std::string>& extra = {},
             std::chrono::seconds bound = kReadingWatchdog, std::int64_t memory = kReadingMemoryBound) {
    std::ofstream(output_) << "previous";
    std::vector<std::string> arguments = {want.input, output_};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    const WatchedRun run = runWatched(arguments, directory_.string(), bound);
    const RunResult& result = run.result;
    SCOPED_TRACE(want.input);
    EXPECT_FALSE(run.killed) << "still running after " << bound.count() << " s";
    EXPECT_LE(run.peakResidentBytes, memory);
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
  check({kData + "/hostile_infinite_media_box.pdf", 1, pageFailure(1)});
}

// Tens of kilobytes that inflate to over a gigabyte of operands, in the page
// itself or in a form it draws: refused before the parser spends minutes on
// them, in time for a parent's watchdog.
TEST_F(HostileInput, DecompressionBombsFailTheirPageInTime) {
  for (const char* file : {"hostile_flate_bomb.pdf", "hostile_form_bomb.pdf"}) {
    check({kData + "/" + file, 1, pageFailure(1)}, {}, kWatchdog, kMemoryBound);
  }
}

// A bomb a page (see write_codec_bombs and write_data_bombs in
// make_test_data.py). Content, a form, a tiling pattern and a Type 3 glyph
// under an image codec's filter; images whose codec's header says gigabytes
// under a dictionary that says a megapixel, as an XObject and inline; images
// that declare billions of pixels. Then data drawing reads whole: an embedded
// font and a colour profile that inflate to a gigabyte, a function's 2 GB
// sample table; and a tiny image mask drawn so large that its scaled copy
// takes 1.5 GB. All of these fill their memory within one step, so no byte
// count or clock between operators stops them: each page fails with its own
// line, in time, and no run ever holds a gigabyte.
TEST_F(HostileInput, BombsInEveryDecoderFailTheirPageInTimeAndMemory) {
  for (const auto& [file, pages] : {std::pair{"hostile_codec_bombs.pdf", 13}, std::pair{"hostile_data_bombs.pdf", 4}}) {
    for (int page = 1; page <= pages; ++page) {
      SCOPED_TRACE("page " + std::to_string(page));
      check({kData + "/" + file, 1, pageFailure(page)}, {"--pages", std::to_string(page)}, kWatchdog,
            kMemoryBound);
    }
  }
}

// The bounds leave real scans alone: a 300 dpi page kept as a CCITT group 4
// image, and one kept as JBIG2, are read.
TEST_F(HostileInput, BilevelScansWithinTheBoundsAreRead) {
  check({kData + "/bilevel_scans.pdf", 0, ""});
  const std::vector<std::string> texts = pageTexts(readFile(output_));
  ASSERT_EQ(texts.size(), 2U);
  EXPECT_EQ(texts[0], "Faxed page from the office");
  EXPECT_EQ(texts[1], "Bitmap page from the archive");
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
