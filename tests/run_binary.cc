#include "tests/run_binary.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace brindlewox::testing {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::filesystem::path freshTestDirectory(const std::string& prefix) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() /
      (prefix + std::to_string(::getpid()) + "-" + info->name());
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory);
  return directory;
}

std::filesystem::path copyBinaryForEveryUser(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  constexpr fs::perms kOpen = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec;  // 0755
  const fs::path built = fs::path(BRINDLEWOX_BINARY).parent_path();
  const fs::path bin = folder / "bin";
  fs::create_directories(bin / "models");
  fs::copy_file(BRINDLEWOX_BINARY, bin / "brindlewox-ocr");
  fs::copy_file(BRINDLEWOX_ENGINE, bin / "libbrindlewox-engine.so");
  fs::copy_file(BRINDLEWOX_PDF_WORKER, bin / "brindlewox-ocr-pdf-decoder");
  fs::copy_file(BRINDLEWOX_IMAGE_WORKER, bin / "brindlewox-ocr-image-decoder");
  for (const char* name : kModelFiles) {
    fs::copy_file(built / "models" / name, bin / "models" / name);
    fs::permissions(bin / "models" / name,
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }
  for (const fs::path& path :
       {folder, bin, bin / "models", bin / "brindlewox-ocr", bin / "libbrindlewox-engine.so",
        bin / "brindlewox-ocr-pdf-decoder", bin / "brindlewox-ocr-image-decoder"}) {
    fs::permissions(path, kOpen);
  }
  return bin / "brindlewox-ocr";
}

StartedBinary startBinary(const std::vector<std::string>& arguments,
                          const std::string& workingDirectory,
                          const std::vector<std::string>& wrapper, const std::string& binary) {
  char outPath[] = "/tmp/brindlewox-out-XXXXXX";
  char errPath[] = "/tmp/brindlewox-err-XXXXXX";
  const int outFd = ::mkstemp(outPath);
  const int errFd = ::mkstemp(errPath);
  std::vector<std::string> argv = wrapper;
  argv.push_back(binary);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (std::string& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0) ::_exit(127);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, STDIN_FILENO);
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    ::execv(pointers[0], pointers.data());
    ::_exit(127);
  }
  ::close(outFd);
  ::close(errFd);
  return {child, outPath, errPath};
}

RunResult waitForBinary(const StartedBinary& started) {
  RunResult result;
  int status = 0;
  ::waitpid(started.pid, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.standardOutput = readFile(started.outputPath);
  result.standardError = readFile(started.errorPath);
  ::unlink(started.outputPath.c_str());
  ::unlink(started.errorPath.c_str());
  return result;
}

RunResult runBinary(const std::vector<std::string>& arguments, const std::string& workingDirectory,
                    const std::vector<std::string>& wrapper, const std::string& binary) {
  return waitForBinary(startBinary(arguments, workingDirectory, wrapper, binary));
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      out.push_back(text.substr(start));
      break;
    }
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string jsonString(const std::string& document, const std::string& key, std::size_t from) {
  const std::string opening = "\"" + key + "\" : \"";
  std::size_t i = document.find(opening, from);
  if (i == std::string::npos) return "<missing>";
  std::string value;
  for (i += opening.size(); i < document.size() && document[i] != '"'; ++i) {
    if (document[i] != '\\') {
      value += document[i];
      continue;
    }
    const char escaped = document[++i];
    value += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped == 'r' ? '\r' : escaped;
  }
  return value;
}

std::vector<std::string> pageTexts(const std::string& document) {
  std::vector<std::string> texts;
  for (std::size_t at = document.find("\"text\" : "); at != std::string::npos;
       at = document.find("\"text\" : ", at + 1)) {
    texts.push_back(jsonString(document, "text", at));
  }
  return texts;
}

}  // namespace brindlewox::testing
