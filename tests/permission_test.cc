// The binary run as an unprivileged user, as a desktop parent runs it: an
// OUTPUT folder it may not write, an INPUT it may not read and an OUTPUT path
// through a file each end with their failure line and status 1, and change
// nothing. Switching to the user nobody needs root, as CI has; the binary,
// engine and models are copied where nobody can reach them, wherever the
// build tree lies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "tests/run_binary.h"

namespace brindlewox {
namespace {

namespace fs = std::filesystem;
using testing::lines;
using testing::readFile;
using testing::RunResult;

const std::string kData = BRINDLEWOX_TESTDATA;
constexpr fs::perms kReadOnly =
    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
constexpr fs::perms kOwnerOnly = fs::perms::owner_read | fs::perms::owner_write;

// Every file under a folder with its contents, to show that nothing changed.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    files[entry.path().string()] =
        entry.is_regular_file() ? readFile(entry.path().string()) : "<folder>";
  }
  return files;
}

class AsNobody : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "running as the user nobody needs root (CI runs as root)";
    // Under /tmp itself, which every user can pass through, whatever TMPDIR says.
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ =
        fs::path("/tmp") / ("brindlewox-nobody-" + std::to_string(::getpid()) + "-" + info->name());
    fs::remove_all(root_);
    binary_ = testing::copyBinaryForEveryUser(root_);
    fs::copy_file(kData + "/english.png", root_ / "english.png");
    fs::permissions(root_ / "english.png", kReadOnly);
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  RunResult runAsNobody(const std::vector<std::string>& arguments) const {
    return testing::runBinary(arguments, root_.string(), testing::kAsNobody, binary_.string());
  }

  // The run failed with `line` last, after nothing but progress lines.
  static void expectFailure(const RunResult& result, const std::string& line) {
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, 1) << result.standardError;
    EXPECT_EQ(result.standardOutput, "");
    const std::vector<std::string> got = lines(result.standardError);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), line);
    for (std::size_t i = 0; i + 1 < got.size(); ++i)
      EXPECT_EQ(got[i].rfind("BRINDLEWOX_PROGRESS {", 0), 0U) << got[i];
  }

  fs::path root_;
  fs::path binary_;
};

TEST_F(AsNobody, AReadOnlyOutputFolderFailsTheWriteAndKeepsTheOldDocument) {
  const fs::path folder = root_ / "read-only";
  fs::create_directory(folder);
  std::ofstream(folder / "out.json") << "previous";
  fs::permissions(folder / "out.json", kReadOnly | fs::perms::owner_write);
  fs::permissions(
      folder, kReadOnly | fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
  const auto before = snapshot(root_);
  const std::string output = (folder / "out.json").string();
  expectFailure(runAsNobody({(root_ / "english.png").string(), output}),
                "OCR failed: The file \"" + output + "\" could not be written: Permission denied.");
  EXPECT_EQ(snapshot(root_), before);
}

TEST_F(AsNobody, AnUnreadableInputIsNotOpened) {
  fs::copy_file(kData + "/english.png", root_ / "private.png");
  fs::copy_file(kData + "/three_pages.pdf", root_ / "private.pdf");
  fs::permissions(root_ / "private.png", kOwnerOnly);
  fs::permissions(root_ / "private.pdf", kOwnerOnly);
  // An OUTPUT folder open to every user, so that a stray write would show.
  fs::create_directory(root_ / "out");
  fs::permissions(root_ / "out", fs::perms::all);
  const auto before = snapshot(root_);
  for (const char* input : {"private.png", "private.pdf"}) {
    SCOPED_TRACE(input);
    expectFailure(runAsNobody({(root_ / input).string(), (root_ / "out" / "out.json").string()}),
                  "OCR failed: The image or PDF could not be opened.");
  }
  EXPECT_EQ(snapshot(root_), before);
}

TEST_F(AsNobody, AnOutputPathThroughAFileFailsTheWrite) {
  std::ofstream(root_ / "notes.txt") << "not a folder";
  fs::permissions(root_ / "notes.txt", fs::perms::all);
  const auto before = snapshot(root_);
  const std::string output = (root_ / "notes.txt" / "out.json").string();
  expectFailure(runAsNobody({(root_ / "english.png").string(), output}),
                "OCR failed: The file \"" + output + "\" could not be written: Not a directory.");
  EXPECT_EQ(snapshot(root_), before);
}

}  // namespace
}  // namespace brindlewox
