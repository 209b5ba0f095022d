// What stands at OUTPUT decides how the document reaches it, for the tests'
// own user (root in CI) and for the user nobody alike: a file is replaced
// whole, a link keeps pointing where it did while the file it names is
// replaced or created, and a device, FIFO or socket takes the bytes as they
// are. A path that cannot be written fails before any page is read, and a
// failed run changes nothing there.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <thread>

#include "tests/run_binary.h"

namespace brindlewox {
namespace {

namespace fs = std::filesystem;
using testing::lines;
using testing::pageTexts;
using testing::readFile;
using testing::RunResult;
using testing::StartedBinary;

const std::string kData = BRINDLEWOX_TESTDATA;
const std::vector<std::string> kLineText = {"Quarterly report for the board"};

std::string progress(int percent, int completed, int total) {
  return "BRINDLEWOX_PROGRESS {\"percent\":" + std::to_string(percent) +
         ",\"stage\":\"ocr\",\"completedPages\":" + std::to_string(completed) +
         ",\"totalPages\":" + std::to_string(total) + "}";
}

// Every entry under a folder: a file's contents, a link's text, or its kind.
std::map<std::string, std::string> snapshot(const fs::path& folder) {
  std::map<std::string, std::string> entries;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = entry.path().lexically_relative(folder).string();
    if (entry.is_symlink()) {
      entries[name] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_regular_file()) {
      entries[name] = readFile(entry.path().string());
    } else {
      entries[name] = entry.is_directory() ? "<folder>" : "<other>";
    }
  }
  return entries;
}

enum class User { testUser, nobody };

void PrintTo(User user, std::ostream* out) {
  *out << (user == User::nobody ? "nobody" : "the tests' user");
}

class OutputPath : public ::testing::TestWithParam<User> {
 protected:
  void SetUp() override {
    if (GetParam() == User::nobody && ::geteuid() != 0) {
      GTEST_SKIP() << "running as the user nobody needs root (CI runs as root)";
    }
    // Under /tmp itself, which every user can pass through, whatever TMPDIR says.
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');
    root_ = fs::path("/tmp") / ("brindlewox-output-" + std::to_string(::getpid()) + "-" + name);
    fs::remove_all(root_);
    binary_ = testing::copyBinaryForEveryUser(root_);
    for (const char* input :
         {"line_en_44.png", "five_pages.pdf", "hostile_infinite_media_box.pdf", "not_a_pdf.pdf"}) {
      fs::copy_file(kData + "/" + input, root_ / input);
      fs::permissions(root_ / input,
                      fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    }
    work_ = openFolder(root_ / "work");
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  static fs::path openFolder(const fs::path& folder) {
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::all);
    return folder;
  }
  std::string input(const std::string& name) const { return (root_ / name).string(); }

  std::vector<std::string> wrapper(const std::vector<std::string>& inner = {}) const {
    std::vector<std::string> outer =
        GetParam() == User::nobody ? testing::kAsNobody : std::vector<std::string>{};
    outer.insert(outer.end(), inner.begin(), inner.end());
    return outer;
  }
  RunResult run(const std::vector<std::string>& arguments,
                const std::vector<std::string>& inner = {}) const {
    return testing::runBinary(arguments, work_.string(), wrapper(inner), binary_.string());
  }
  // The run succeeded with its two progress lines and nothing else on stderr.
  static void expectSuccess(const RunResult& result) {
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, 0) << result.standardError;
    EXPECT_EQ(lines(result.standardError),
              (std::vector<std::string>{progress(0, 0, 1), progress(100, 1, 1)}));
  }
  std::string cannotWrite(const std::string& path, const std::string& reason) const {
    return "OCR failed: The file \"" + path + "\" could not be written: " + reason + ".\n";
  }

  fs::path root_;
  fs::path binary_;
  fs::path work_;
};

INSTANTIATE_TEST_SUITE_P(, OutputPath, ::testing::Values(User::testUser, User::nobody),
                         [](const ::testing::TestParamInfo<User>& info) {
                           return info.param == User::nobody ? "AsNobody" : "AsTestUser";
                         });

TEST_P(OutputPath, FilesAreReplacedWholeAndLinksKeepPointingAtThem) {
  const fs::path links = openFolder(work_ / "links");
  const fs::path documents = openFolder(work_ / "documents");
  std::ofstream(documents / "linked.json") << "previous";
  std::ofstream(documents / "plain.json") << "previous";
  fs::create_symlink("../documents/linked.json", links / "relative.json");
  fs::create_symlink(links / "relative.json", links / "chain.json");
  fs::create_symlink("../documents/created.json", links / "dangling.json");

  // A run that fails on a page, after OUTPUT was opened, leaves the links,
  // their file and its folder as they were.
  const auto before = snapshot(work_);
  const RunResult failed =
      run({input("hostile_infinite_media_box.pdf"), (links / "chain.json").string()});
  EXPECT_EQ(failed.exitStatus, 1);
  EXPECT_EQ(failed.standardError, "OCR failed: Could not render PDF page 1 for OCR.\n");
  EXPECT_EQ(snapshot(work_), before);

  for (const fs::path& output : {links / "chain.json", links / "dangling.json",
                                 documents / "plain.json", documents / "fresh.json"}) {
    SCOPED_TRACE(output);
    expectSuccess(run({input("line_en_44.png"), output.string()}));
  }
  for (const char* name : {"linked.json", "created.json", "plain.json", "fresh.json"}) {
    EXPECT_EQ(pageTexts(readFile((documents / name).string())), kLineText) << name;
  }
  auto after = snapshot(work_);
  for (const char* name : {"documents/linked.json", "documents/created.json",
                           "documents/plain.json", "documents/fresh.json"}) {
    ASSERT_EQ(after.erase(name), 1U) << name;
  }
  // No temporary file in either folder, and every link as it was.
  EXPECT_EQ(after, (std::map<std::string, std::string>{
                       {"documents", "<folder>"},
                       {"links", "<folder>"},
                       {"links/chain.json", "-> " + (links / "relative.json").string()},
                       {"links/dangling.json", "-> ../documents/created.json"},
                       {"links/relative.json", "-> ../documents/linked.json"}}));
}

TEST_P(OutputPath, DevicesFifosAndSocketsTakeTheDocumentAsItIs) {
  expectSuccess(run({input("line_en_44.png"), "/dev/null"}));
  struct stat null {};
  ASSERT_EQ(::lstat("/dev/null", &null), 0);
  EXPECT_TRUE(S_ISCHR(null.st_mode));
  EXPECT_EQ(null.st_rdev, ::makedev(1, 3));

  // Standard output as a pipe to another program.
  expectSuccess(run({input("line_en_44.png"), "/dev/stdout"},
                    {"/bin/sh", "-c", "\"$0\" \"$@\" | cat > piped.json"}));
  EXPECT_EQ(pageTexts(readFile((work_ / "piped.json").string())), kLineText);
  fs::remove(work_ / "piped.json");
  EXPECT_TRUE(fs::is_symlink("/dev/stdout"));
  // Standard error carries the progress lines and then the document.
  const RunResult toError = run({input("line_en_44.png"), "/dev/stderr"});
  EXPECT_EQ(toError.exitStatus, 0);
  EXPECT_EQ(
      toError.standardError.rfind(progress(0, 0, 1) + "\n" + progress(100, 1, 1) + "\n{\n", 0), 0U)
      << toError.standardError;
  EXPECT_EQ(pageTexts(toError.standardError), kLineText);

  // A FIFO with a reader: the document, or nothing at all from a failed run.
  const fs::path fifo = work_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(fifo.c_str(), 0666), 0);
  for (const bool failing : {false, true}) {
    SCOPED_TRACE(failing ? "failing run" : "run");
    const StartedBinary reader = testing::startBinary({fifo.string()}, "", {}, "/bin/cat");
    const RunResult result =
        run({input(failing ? "hostile_infinite_media_box.pdf" : "line_en_44.png"), fifo.string()});
    // Should the run not have opened the FIFO, the reader still ends.
    if (const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK); writer >= 0)
      ::close(writer);
    const RunResult read = testing::waitForBinary(reader);
    EXPECT_EQ(result.exitStatus, failing ? 1 : 0) << result.standardError;
    if (failing) {
      EXPECT_EQ(read.standardOutput, "");
    } else {
      EXPECT_EQ(pageTexts(read.standardOutput), kLineText);
    }
  }

  // A listening socket.
  const fs::path socketPath = work_ / "socket";
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(socketPath.string().size(), sizeof(address.sun_path));
  std::strcpy(address.sun_path, socketPath.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  ASSERT_EQ(::chmod(socketPath.c_str(), 0777), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  std::string received;
  std::thread reader([&] {
    const int connection = ::accept(listener, nullptr, nullptr);
    if (connection < 0) return;
    char buffer[4096];
    for (ssize_t got; (got = ::read(connection, buffer, sizeof(buffer))) > 0;) {
      received.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(connection);
  });
  const RunResult toSocket = run({input("line_en_44.png"), socketPath.string()});
  ::shutdown(listener, SHUT_RDWR);  // ends a wait for a run that never connected
  reader.join();
  ::close(listener);
  expectSuccess(toSocket);
  EXPECT_EQ(pageTexts(received), kLineText);

  // Nothing was created beside any of them.
  EXPECT_EQ(snapshot(work_),
            (std::map<std::string, std::string>{{"fifo", "<other>"}, {"socket", "<other>"}}));
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_socket(socketPath));
}

// Once the input is open, OUTPUT is opened before the first page is read:
// an image run ends after its start line, a PDF run before any line, with
// the line the write would have given. An input that cannot be read is still
// what is reported first.
TEST_P(OutputPath, AnOutputThatCannotBeWrittenFailsBeforeAnyPageIsRead) {
  fs::create_directory(work_ / "folder");
  std::vector<std::pair<std::string, std::string>> unwritable = {
      {(work_ / "missing" / "out.json").string(), "No such file or directory"},
      {(work_ / "folder").string(), "Is a directory"},
  };
  const fs::path closed = root_ / "closed";  // the test user's, open to others for reading only
  fs::create_directory(closed);
  if (GetParam() == User::nobody)
    unwritable.emplace_back((closed / "out.json").string(), "Permission denied");
  const auto before = snapshot(root_);
  for (const auto& [output, reason] : unwritable) {
    SCOPED_TRACE(output);
    const RunResult image = run({input("line_en_44.png"), output});
    EXPECT_EQ(image.exitStatus, 1);
    EXPECT_EQ(image.standardError, progress(0, 0, 1) + "\n" + cannotWrite(output, reason));
    const RunResult pdf = run({input("five_pages.pdf"), output});
    EXPECT_EQ(pdf.exitStatus, 1);
    EXPECT_EQ(pdf.standardError, cannotWrite(output, reason));
    const RunResult unreadable = run({input("not_a_pdf.pdf"), output});
    EXPECT_EQ(unreadable.standardError, "OCR failed: The image or PDF could not be opened.\n");
  }
  EXPECT_EQ(snapshot(root_), before);
}

}  // namespace
}  // namespace brindlewox
