// A parent cancelling a run: SIGTERM, SIGINT or SIGHUP ends the process by
// that same signal, promptly, with OUTPUT as it was and no temporary file
// left beside it, whether the input is being read or the output written;
// after SIGKILL too, where the file system makes unnamed files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/run_binary.h"

namespace brindlewox {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::RunResult;
using testing::StartedBinary;

const std::string kData = BRINDLEWOX_TESTDATA;
#ifdef BRINDLEWOX_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// The handler ends the run at once; the bound only leaves room for a busy machine.
constexpr auto kPromptly = std::chrono::seconds(5);

class Cancellation : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = testing::freshTestDirectory("brindlewox-cancel-");
    output_ = (directory_ / "out.json").string();
  }
  void TearDown() override { fs::remove_all(directory_); }

  std::vector<std::string> entries() const {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory_)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  StartedBinary start(const std::string& input, const std::vector<std::string>& wrapper = {},
                      const std::string& binary = BRINDLEWOX_BINARY) {
    std::ofstream(output_) << "previous";
    return testing::startBinary({input, output_}, directory_.string(), wrapper, binary);
  }

  // Waits until the run has written `text` to stderr, that is, reached that point.
  static void waitForProgress(const StartedBinary& started, const std::string& text) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (readFile(started.errorPath).find(text) == std::string::npos) {
      ASSERT_LT(std::chrono::steady_clock::now(), end) << "no \"" << text << "\" on stderr";
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Signals the run (and lets it go on if it is stopped), then checks that it
  // ended by that signal and left the folder as it was.
  void cancelAndCheck(const StartedBinary& started, int signal) {
    const auto sent = std::chrono::steady_clock::now();
    ::kill(started.pid, signal);
    ::kill(started.pid, SIGCONT);
    const RunResult result = testing::waitForBinary(started);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, kPromptly);
    EXPECT_EQ(result.signal, signal)
        << "exit status " << result.exitStatus << ": " << result.standardError;
    EXPECT_EQ(readFile(output_), "previous");
    EXPECT_EQ(entries(), std::vector<std::string>{"out.json"});
  }

  fs::path directory_;
  std::string output_;
};

TEST_F(Cancellation, EachSignalEndsAMultiPagePDFRunByThatSignal) {
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(::strsignal(signal));
    const StartedBinary started = start(kData + "/five_pages.pdf");
    // The first page is done; the second is being drawn or read.
    waitForProgress(started, "\"completedPages\":1,");
    cancelAndCheck(started, signal);
  }
}

// SIGKILL cannot be caught, so nothing of ours can remove a temporary file:
// the document is written into a file with no name until it is whole, and
// goes with the process.
TEST_F(Cancellation, ARunKilledOutrightMidPageLeavesNothingBesideOutput) {
  const int probe = ::open(directory_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (probe < 0) GTEST_SKIP() << "this file system makes no unnamed files: " << ::strerror(errno);
  ::close(probe);
  const StartedBinary started = start(kData + "/five_pages.pdf");
  waitForProgress(started, "\"completedPages\":1,");
  cancelAndCheck(started, SIGKILL);
}

TEST_F(Cancellation, ASignalWhileTheOutputIsWrittenRemovesTheTemporaryFile) {
  const StartedBinary started = start(kData + "/english.png", {}, BRINDLEWOX_STOPPING_BINARY);
  int status = 0;
  ASSERT_EQ(::waitpid(started.pid, &status, WUNTRACED), started.pid);
  ASSERT_TRUE(WIFSTOPPED(status)) << "the test build did not stop before renaming";
  // The whole document waits in a temporary file beside OUTPUT.
  const std::vector<std::string> during = entries();
  ASSERT_EQ(during.size(), 2U);
  EXPECT_EQ(during[0].rfind(".brindlewox-ocr-", 0), 0U) << during[0];
  EXPECT_EQ(
      readFile((directory_ / during[0]).string()).rfind("{\n  \"engine\" : \"macOS Vision\"", 0),
      0U);
  cancelAndCheck(started, SIGTERM);

  // Left to go on, the same build replaces OUTPUT as the shipped one does.
  const StartedBinary resumed = start(kData + "/english.png", {}, BRINDLEWOX_STOPPING_BINARY);
  ASSERT_EQ(::waitpid(resumed.pid, &status, WUNTRACED), resumed.pid);
  ::kill(resumed.pid, SIGCONT);
  EXPECT_EQ(testing::waitForBinary(resumed).exitStatus, 0);
  EXPECT_NE(readFile(output_).find("Quarterly report"), std::string::npos);
  EXPECT_EQ(entries(), std::vector<std::string>{"out.json"});
}

// The run starts itself again, once, to have glibc back its memory with
// huge pages from one arena: the parent's process (same pid) goes on with the
// parent's tunables kept and ours added, its buffers in huge pages where the
// kernel offers them, and finishes as usual.
TEST_F(Cancellation, TheRunRestartsInItsOwnProcessWithHugePages) {
  const StartedBinary started =
      start(kData + "/english.png", {"/usr/bin/env", "GLIBC_TUNABLES=glibc.malloc.tcache_count=7"},
            BRINDLEWOX_STOPPING_BINARY);
  int status = 0;
  ASSERT_EQ(::waitpid(started.pid, &status, WUNTRACED), started.pid);
  ASSERT_TRUE(WIFSTOPPED(status));
  const std::string process = "/proc/" + std::to_string(started.pid);
  // glibc splits the variable's pairs in place as it reads them: look for each.
  std::string environment = readFile(process + "/environ");
  std::replace(environment.begin(), environment.end(), '\0', '\n');
  EXPECT_NE(environment.find("\nGLIBC_TUNABLES=glibc.malloc.tcache_count=7"), std::string::npos)
      << environment;
  EXPECT_NE(environment.find("\nglibc.malloc.hugetlb=1\n"), std::string::npos) << environment;
  EXPECT_NE(environment.find("\nglibc.malloc.arena_max=1\n"), std::string::npos) << environment;
  // The sanitizers' allocator stands in for glibc's, and the kernel may offer no huge pages.
  if (!kSanitized && readFile("/sys/kernel/mm/transparent_hugepage/enabled").find("[never]") ==
                         std::string::npos) {
    const std::string memory = readFile(process + "/smaps_rollup");
    const std::size_t at = memory.find("AnonHugePages:");
    ASSERT_NE(at, std::string::npos) << memory;
    EXPECT_GT(std::stol(memory.substr(at + 14)), 0) << memory;
  }
  ::kill(started.pid, SIGCONT);
  const RunResult result = testing::waitForBinary(started);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_NE(readFile(output_).find("Quarterly report"), std::string::npos);
}

// nohup's parent means the run to outlive its terminal: an ignored hang-up
// stays ignored.
TEST_F(Cancellation, AHangUpThatTheParentIgnoresIsIgnored) {
  const StartedBinary started = start(kData + "/five_pages.pdf", {"/usr/bin/nohup"});
  waitForProgress(started, "\"completedPages\":1,");
  ::kill(started.pid, SIGHUP);
  const RunResult result = testing::waitForBinary(started);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.exitStatus, 0) << result.standardError;
  EXPECT_NE(readFile(output_).find("This is page number five"), std::string::npos);
}

}  // namespace
}  // namespace brindlewox
