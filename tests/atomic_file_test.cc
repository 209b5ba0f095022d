#include "services/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace brindlewox {
namespace {

namespace fs = std::filesystem;

class OutputFileTest : public ::testing::Test {
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
  // The names in a folder, to show what a write left there.
  // Whether files in `folder` can be made with no name (O_TMPFILE).
  static bool makesUnnamedFiles(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::close(fd);
    return true;
  }

  static std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> found;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      found.push_back(entry.path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
  }
  static Status write(const std::string& path, std::string_view bytes) {
    Result<OutputFile> output = OutputFile::open(path);
    if (!output) return output.failure();
    return std::move(output).value().write(bytes);
  }
  static std::string failureOf(const Status& status) {
    return status ? std::string("<written>") : localizedDescription(status.failure());
  }
  fs::path directory_;
};

TEST_F(OutputFileTest, ReplacesAnExistingFileWhole) {
  const fs::path target = directory_ / "out.json";
  std::ofstream(target) << "an older and much longer document than the new one";
  ASSERT_TRUE(write(target.string(), "{}").ok());
  EXPECT_EQ(read(target), "{}");
  EXPECT_EQ(names(directory_),
            std::vector<std::string>{"out.json"});  // no temporary file left behind
}

TEST_F(OutputFileTest, GivesTheNewFileOrdinaryPermissions) {
  const mode_t previous = ::umask(022);
  const fs::path target = directory_ / "fresh.json";
  ASSERT_TRUE(write(target.string(), "x").ok());
  ::umask(previous);
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644U);
}

// Opening is the check a run makes before its first page: every path that
// cannot take the document fails there with the line the write would give,
// and creates nothing.
TEST_F(OutputFileTest, PathsThatCannotBeWrittenFailWhenOpened) {
  std::ofstream(directory_ / "notes.txt") << "not a folder";
  fs::create_directory(directory_ / "taken");
  fs::create_symlink("taken", directory_ / "to-folder");
  fs::create_symlink("loop-b", directory_ / "loop-a");
  fs::create_symlink("loop-a", directory_ / "loop-b");
  const auto before = names(directory_);
  const std::pair<std::string, std::string> cases[] = {
      {"missing/out.json", "No such file or directory"},
      {"notes.txt/out.json", "Not a directory"},
      {"taken", "Is a directory"},
      {"to-folder", "Is a directory"},
      {"loop-a", "Too many levels of symbolic links"},
  };
  for (const auto& [name, reason] : cases) {
    const std::string path = (directory_ / name).string();
    const Result<OutputFile> output = OutputFile::open(path);
    ASSERT_FALSE(output.ok()) << name;
    EXPECT_EQ(localizedDescription(output.failure()),
              "The file \"" + path + "\" could not be written: " + reason + ".");
  }
  EXPECT_EQ(failureOf(write("", "x")),
            "The file \"\" could not be written: No such file or directory.");
  EXPECT_EQ(names(directory_), before);
  EXPECT_TRUE(fs::is_directory(directory_ / "taken"));
}

TEST_F(OutputFileTest, AnOpenedFileThatIsNeverWrittenLeavesNothing) {
  const fs::path target = directory_ / "out.json";
  std::ofstream(target) << "previous";
  {
    const Result<OutputFile> output = OutputFile::open(target.string());
    ASSERT_TRUE(output.ok());
    // The temporary file waits beside the target for the whole run, with no
    // name where the file system makes unnamed files.
    EXPECT_EQ(names(directory_).size(), makesUnnamedFiles(directory_) ? 1U : 2U);
  }
  EXPECT_EQ(names(directory_), std::vector<std::string>{"out.json"});
  EXPECT_EQ(read(target), "previous");
}

TEST_F(OutputFileTest, WritesRelativeToTheWorkingDirectory) {
  const fs::path previous = fs::current_path();
  fs::current_path(directory_);
  const Status status = write("relative.json", "r");
  fs::current_path(previous);
  ASSERT_TRUE(status.ok());
  EXPECT_EQ(read(directory_ / "relative.json"), "r");
}

// A link at OUTPUT stays a link: the file it finally names is replaced, in
// that file's own folder, or created when the link dangles.
TEST_F(OutputFileTest, LinksStayAndTheFileTheyNameIsReplaced) {
  fs::create_directories(directory_ / "links");
  fs::create_directories(directory_ / "documents");
  std::ofstream(directory_ / "documents" / "real.json") << "previous";
  fs::create_symlink("../documents/real.json", directory_ / "links" / "relative.json");
  fs::create_symlink(directory_ / "links" / "relative.json", directory_ / "links" / "chain.json");
  fs::create_symlink("../documents/new.json", directory_ / "links" / "dangling.json");

  {
    // While the document is being made, its temporary file lies beside the
    // file it will replace, so the rename stays within one folder.
    const Result<OutputFile> output =
        OutputFile::open((directory_ / "links" / "chain.json").string());
    ASSERT_TRUE(output.ok());
    EXPECT_EQ(names(directory_ / "documents").size(), makesUnnamedFiles(directory_) ? 1U : 2U);
    EXPECT_EQ(names(directory_ / "links").size(), 3U);
  }
  ASSERT_TRUE(write((directory_ / "links" / "chain.json").string(), "through two links").ok());
  EXPECT_EQ(read(directory_ / "documents" / "real.json"), "through two links");
  ASSERT_TRUE(write((directory_ / "links" / "relative.json").string(), "through one link").ok());
  EXPECT_EQ(read(directory_ / "documents" / "real.json"), "through one link");
  ASSERT_TRUE(write((directory_ / "links" / "dangling.json").string(), "created").ok());
  EXPECT_EQ(read(directory_ / "documents" / "new.json"), "created");

  for (const char* link : {"relative.json", "chain.json", "dangling.json"}) {
    EXPECT_TRUE(fs::is_symlink(directory_ / "links" / link)) << link;
  }
  EXPECT_EQ(fs::read_symlink(directory_ / "links" / "chain.json"),
            directory_ / "links" / "relative.json");
  EXPECT_EQ(names(directory_ / "documents"), (std::vector<std::string>{"new.json", "real.json"}));
  EXPECT_EQ(names(directory_ / "links"),
            (std::vector<std::string>{"chain.json", "dangling.json", "relative.json"}));
}

// What is not a file takes the bytes as they are: nothing is created beside
// it and nothing is renamed over it.
TEST_F(OutputFileTest, DevicesAndSocketsAreWrittenStraightInto) {
  ASSERT_TRUE(write("/dev/null", "discarded").ok());
  struct stat null {};
  ASSERT_EQ(::lstat("/dev/null", &null), 0);
  EXPECT_TRUE(S_ISCHR(null.st_mode));

  const std::string socketPath = (directory_ / "listening").string();
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  std::string received;
  std::thread reader([&] {
    const int connection = ::accept(listener, nullptr, nullptr);
    char buffer[4096];
    for (ssize_t got; (got = ::read(connection, buffer, sizeof(buffer))) > 0;)
      received.append(buffer, got);
    ::close(connection);
  });
  const std::string document(100000, 'd');  // more than a socket buffer holds at once
  const Status status = write(socketPath, document);
  reader.join();
  ::close(listener);
  ASSERT_TRUE(status.ok()) << failureOf(status);
  EXPECT_EQ(received, document);
  EXPECT_EQ(names(directory_), std::vector<std::string>{"listening"});
  EXPECT_TRUE(fs::is_socket(socketPath));

  // No one listening: the failure comes at once, when OUTPUT is opened.
  ::unlink(socketPath.c_str());
  const int orphan = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::bind(orphan, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  ::close(orphan);
  const Result<OutputFile> refused = OutputFile::open(socketPath);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(localizedDescription(refused.failure()),
            "The file \"" + socketPath + "\" could not be written: Connection refused.");
}

// /dev/stdout and its kin name a descriptor the parent handed over: the bytes
// go into that descriptor, as the parent opened it, and never to the path the
// link's text shows.
TEST_F(OutputFileTest, DescriptorLinksAreWrittenIntoTheirDescriptor) {
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  ASSERT_TRUE(write("/dev/fd/" + std::to_string(pipe[1]), "into the pipe").ok());
  ::close(pipe[1]);
  char buffer[64] = {};
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(::read(pipe[0], buffer, sizeof(buffer)))),
            "into the pipe");

  // Opened for appending, as a shell's >> does: what the file held stays.
  const fs::path log = directory_ / "log.json";
  std::ofstream(log) << "earlier\n";
  const int appending = ::open(log.c_str(), O_WRONLY | O_APPEND);
  ASSERT_TRUE(write("/proc/self/fd/" + std::to_string(appending), "later").ok());
  ::close(appending);
  EXPECT_EQ(read(log), "earlier\nlater");
  EXPECT_EQ(names(directory_), std::vector<std::string>{"log.json"});

  const std::string readEnd = "/dev/fd/" + std::to_string(pipe[0]);
  EXPECT_EQ(failureOf(write(readEnd, "x")),
            "The file \"" + readEnd + "\" could not be written: Bad file descriptor.");
  ::close(pipe[0]);
}

}  // namespace
}  // namespace brindlewox
