#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace brindlewox {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / ("brindlewox-atomic-" + std::to_string(::getpid()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  void TearDown() override {
    fs::permissions(directory_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(directory_);
  }
  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
  }
  std::size_t entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(directory_), fs::directory_iterator()));
  }
  fs::path directory_;
};

TEST_F(AtomicFileTest, ReplacesAnExistingFileWhole) {
  const fs::path target = directory_ / "out.json";
  std::ofstream(target) << "an older and much longer document than the new one";
  ASSERT_TRUE(writeFileAtomically(target.string(), "{}").ok());
  EXPECT_EQ(read(target), "{}");
  EXPECT_EQ(entries(), 1U);  // no temporary file left behind
}

TEST_F(AtomicFileTest, GivesTheNewFileOrdinaryPermissions) {
  const mode_t previous = ::umask(022);
  const fs::path target = directory_ / "fresh.json";
  ASSERT_TRUE(writeFileAtomically(target.string(), "x").ok());
  ::umask(previous);
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644U);
}

TEST_F(AtomicFileTest, FailsWithoutTouchingAnythingWhenTheDirectoryIsMissing) {
  const fs::path target = directory_ / "missing" / "out.json";
  const Status status = writeFileAtomically(target.string(), "x");
  ASSERT_FALSE(status.ok());
  EXPECT_NE(localizedDescription(status.failure()).find("out.json"), std::string::npos);
  EXPECT_FALSE(fs::exists(target));
}

TEST_F(AtomicFileTest, FailsWhenTheTargetIsADirectoryAndLeavesNoTemporaryFile) {
  fs::create_directory(directory_ / "taken");
  EXPECT_FALSE(writeFileAtomically((directory_ / "taken").string(), "x").ok());
  EXPECT_TRUE(fs::is_directory(directory_ / "taken"));
  EXPECT_EQ(entries(), 1U);
}

TEST_F(AtomicFileTest, WritesRelativeToTheWorkingDirectory) {
  const fs::path previous = fs::current_path();
  fs::current_path(directory_);
  const Status status = writeFileAtomically("relative.json", "r");
  fs::current_path(previous);
  ASSERT_TRUE(status.ok());
  EXPECT_EQ(read(directory_ / "relative.json"), "r");
}

}  // namespace
}  // namespace brindlewox
