// Broken and hostile inputs through the real binary: each must end with a
// valid document (status 0) or one failure line (status 1), in bounded time
// and memory, with OUTPUT untouched on failure and nothing stray on stderr.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <vector>

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
// What tool and decoding worker may hold together while the worker meets its
// own limit. In a sanitizer build that limit is on the worker's resident
// memory (1 GiB, shadow and freed blocks included) and the sanitized tool
// holds more beside it, so there the pair is checked against the reading bound.
#ifdef BRINDLEWOX_SANITIZED
constexpr std::int64_t kWorkerBombMemoryBound = kReadingMemoryBound;
#else
constexpr std::int64_t kWorkerBombMemoryBound = kMemoryBound;
#endif

std::string pageFailure(int page) {
  return "OCR failed: Could not render PDF page " + std::to_string(page) + " for OCR.";
}

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
// `limit`, with the peak of its resident memory and of its decoding workers'.
struct WatchedRun {
  RunResult result;
  bool killed = false;
  std::int64_t peakResidentBytes = 0;
  std::chrono::milliseconds took{0};
};

// A live process's peak resident memory so far (VmHWM), in bytes; 0 once gone.
std::int64_t residentPeak(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  }
  return 0;
}

// The processes `pid` started that are still running (its decoding workers).
std::vector<int> childrenOf(int pid) {
  std::vector<int> children;
  std::error_code error;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream list(task.path() / "children");
    for (int child = 0; list >> child;) children.push_back(child);
  }
  return children;
}

// Calls `each` every 10 ms until the run ends or passes `limit`; the peaks of
// the binary and of each of its children are sampled meanwhile, since a
// child's peak can only be read while it lives.
WatchedRun watch(
    const testing::StartedBinary& started, std::chrono::seconds limit,
    const std::function<void()>& each = [] {}) {
  WatchedRun run;
  int status = 0;
  rusage usage{};
  std::int64_t ownPeak = 0;
  std::map<int, std::int64_t> childPeaks;
  const auto begin = std::chrono::steady_clock::now();
  const auto deadline = begin + limit;
  while (::wait4(started.pid, &status, WNOHANG, &usage) == 0) {
    ownPeak = std::max(ownPeak, residentPeak(started.pid));
    for (const int child : childrenOf(started.pid))
      childPeaks[child] = std::max(childPeaks[child], residentPeak(child));
    each();
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(started.pid, SIGKILL);
      ::wait4(started.pid, &status, 0, &usage);
      run.killed = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  run.took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - begin);
  if (WIFEXITED(status)) run.result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) run.result.signal = WTERMSIG(status);
  // The binary's own peak is exact (kilobytes on Linux; it covers reaped
  // children too); the workers' are what the last samples saw.
  std::int64_t workers = 0;
  for (const auto& [child, peak] : childPeaks) workers += peak;
  run.peakResidentBytes = std::max(std::int64_t{usage.ru_maxrss} * 1024, ownPeak + workers);
  run.result.standardOutput = readFile(started.outputPath);
  run.result.standardError = readFile(started.errorPath);
  ::unlink(started.outputPath.c_str());
  ::unlink(started.errorPath.c_str());
  return run;
}

WatchedRun runWatched(const std::vector<std::string>& arguments, const std::string& directory,
                      std::chrono::seconds limit) {
  return watch(testing::startBinary(arguments, directory, memoryBound()), limit);
}

struct Expectation {
  std::string input;     // a file in the test data, or a path made by the test
  int status;            // 0 or 1
  std::string lastLine;  // the failure line for status 1; empty when not checked
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
             std::chrono::seconds bound = kReadingWatchdog,
             std::int64_t memory = kReadingMemoryBound) {
    std::ofstream(output_) << "previous";
    std::vector<std::string> arguments = {want.input, output_};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    expectContained(want, runWatched(arguments, directory_.string(), bound), bound, memory);
  }

  void expectContained(const Expectation& want, const WatchedRun& run, std::chrono::seconds bound,
                       std::int64_t memory) {
    expectContained(want, run, bound, memory, output_);
  }

  void expectContained(const Expectation& want, const WatchedRun& run, std::chrono::seconds bound,
                       std::int64_t memory, const std::string& output) {
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
    const std::string document = readFile(output);
    if (want.status == 0) {
      EXPECT_EQ(document.rfind("{\n  \"engine\" : \"macOS Vision\",\n  \"pageCount\" : ", 0), 0U)
          << document;
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
  for (const auto& [file, pages] :
       {std::pair{"hostile_codec_bombs.pdf", 13}, std::pair{"hostile_data_bombs.pdf", 4}}) {
    for (int page = 1; page <= pages; ++page) {
      SCOPED_TRACE("page " + std::to_string(page));
      check({kData + "/" + file, 1, pageFailure(page)}, {"--pages", std::to_string(page)},
            kWatchdog, kMemoryBound);
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

// What no check before drawing foresees (see write_worker_bombs in
// make_test_data.py): a filter chain that overflows Poppler's stack, a page
// whose forms keep Poppler's abort check from ever running, a path whose
// scan lines take gigabytes, and a JPEG file of 25,000 scans that libjpeg
// walks for minutes. The decoding worker dies, runs out of its memory or is
// stopped at the page's deadline; the tool fails the page (or the image)
// with its own line, in time, and tool and worker never hold a gigabyte.
TEST_F(HostileInput, WhatOnlyTheDecodingWorkerContainsFailsInTimeAndMemory) {
  for (int page = 1; page <= 3; ++page) {
    SCOPED_TRACE("page " + std::to_string(page));
    check({kData + "/hostile_worker_bombs.pdf", 1, pageFailure(page)},
          {"--pages", std::to_string(page)}, kWatchdog, kWorkerBombMemoryBound);
  }
  check({kData + "/hostile_scan_flood.jpg", 1, kUnreadable}, {}, kWatchdog, kWorkerBombMemoryBound);
}

// One page of each hostile kind not covered above, each run as a parent
// runs the tool, `atOnce` runs at a time (each is alone in the memory it is
// checked against). See write_refused_pages and write_contained_pages in
// make_test_data.py: the first file's pages are refused by the check made
// before drawing, at once; the second's are stopped by the decoding worker.
TEST_F(HostileInput, EveryKindOfHostilePageFailsItsPageInTimeAndMemory) {
#ifdef BRINDLEWOX_SANITIZED
  // Sanitized, the worker's limit is on resident memory and the deadline runs
  // pages several times slower: these pages belong to the main suite.
  GTEST_SKIP() << "main build only";
#endif
  struct Case {
    std::string file;
    int page;
  };
  std::vector<Case> cases;
  for (int page = 1; page <= 13; ++page) cases.push_back({"hostile_refused_pages.pdf", page});
  for (int page = 1; page <= 2; ++page) cases.push_back({"hostile_contained_pages.pdf", page});
  // The slowest (the worker's deadline) first, so the rest run beside it.
  std::swap(cases[0], cases[13]);

  std::vector<WatchedRun> runs(cases.size());
  std::vector<std::string> outputs(cases.size());
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i = next++; i < cases.size(); i = next++) {
      outputs[i] = (directory_ / ("out" + std::to_string(i) + ".json")).string();
      std::ofstream(outputs[i]) << "previous";
      runs[i] = watch(testing::startBinary({kData + "/" + cases[i].file, outputs[i], "--pages",
                                            std::to_string(cases[i].page)},
                                           directory_.string(), memoryBound()),
                      kWatchdog);
    }
  };
  constexpr int atOnce = 3;
  std::vector<std::thread> workers;
  for (int i = 0; i < atOnce; ++i) workers.emplace_back(work);
  for (std::thread& worker : workers) worker.join();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].file + " page " + std::to_string(cases[i].page) + ", " +
                 std::to_string(runs[i].took.count()) + " ms");
    expectContained({cases[i].file, 1, pageFailure(cases[i].page)}, runs[i], kWatchdog,
                    kWorkerBombMemoryBound, outputs[i]);
  }
}

// True once a process has its system-call filter on: a decoding worker that
// holds its input open.
bool lockedDown(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Seccomp:", 0) == 0) return line.find('2') != std::string::npos;
  }
  return false;
}

// A worker that dies in the middle of a page, whatever kills it, fails that
// page at once, not at the page's deadline, and the tool reaps it: the test
// adopts orphans (a subreaper), so a worker left behind would be its child.
TEST_F(HostileInput, AWorkerKilledMidPageFailsItsPage) {
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  std::ofstream(output_) << "previous";
  const testing::StartedBinary started =
      testing::startBinary({kData + "/hostile_worker_bombs.pdf", output_, "--pages", "2"},
                           directory_.string(), memoryBound());
  int worker = 0;
  std::optional<std::chrono::steady_clock::time_point> lockedAt;
  std::optional<std::chrono::steady_clock::time_point> killedAt;
  const WatchedRun run = watch(started, kWatchdog, [&] {
    const std::vector<int> children = childrenOf(started.pid);
    if (worker == 0 && !children.empty()) worker = children.front();
    if (worker != 0 && !lockedAt && lockedDown(worker)) lockedAt = std::chrono::steady_clock::now();
    // Two seconds into the page that would take minutes to draw.
    if (lockedAt && !killedAt &&
        std::chrono::steady_clock::now() - *lockedAt > std::chrono::seconds(2)) {
      ::kill(worker, SIGKILL);
      killedAt = std::chrono::steady_clock::now();
    }
  });
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  ASSERT_TRUE(killedAt.has_value()) << run.result.standardError;
  expectContained({"a killed worker", 1, pageFailure(2)}, run, kWatchdog, kMemoryBound);
  EXPECT_LT(std::chrono::steady_clock::now() - *killedAt, std::chrono::seconds(5));
  EXPECT_EQ(::waitpid(worker, nullptr, WNOHANG), -1) << "the worker was left to others to reap";
  EXPECT_EQ(errno, ECHILD);
}

TEST_F(HostileInput, ImagesTooLargeOrBrokenAreRefusedBeforeDecoding) {
  for (const char* file :
       {"hostile_huge_declared.png", "hostile_too_many_pixels.png", "hostile_zero_size.png",
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
  const RunResult intoDirectory =
      runBinary({kData + "/english.png", directory_.string()}, "", memoryBound());
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
