// Runs the built brindlewox-ocr binary as a child process, the way a parent
// application does, and captures what it writes and how it ends.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace brindlewox::testing {

// The files the built binary loads from models/ beside it.
inline const std::vector<const char*> kModelFiles = {"ppocrv4_det_opencv.onnx",
                                                     "ppocrv4_rec_opencv.onnx",
                                                     "ppocr_cls_opencv.onnx", "ppocr_keys_v1.txt"};

struct RunResult {
  int exitStatus = -1;  // -1 when the process did not exit normally
  int signal = 0;       // the signal that ended it, if one did
  std::string standardOutput;
  std::string standardError;
};

// A run that has been started and not yet waited for; its stdout and stderr
// go to the two files, which waitForBinary reads and removes.
struct StartedBinary {
  int pid = -1;
  std::string outputPath;
  std::string errorPath;
};

// `workingDirectory` empty means the test's own. A non-empty `wrapper` (such
// as prlimit and its options) runs the binary in its stead. `binary` replaces
// the built binary, for a copy placed elsewhere.
RunResult runBinary(const std::vector<std::string>& arguments,
                    const std::string& workingDirectory = "",
                    const std::vector<std::string>& wrapper = {},
                    const std::string& binary = BRINDLEWOX_BINARY);

// runBinary in two halves, for a test that acts on the process meanwhile.
StartedBinary startBinary(const std::vector<std::string>& arguments,
                          const std::string& workingDirectory = "",
                          const std::vector<std::string>& wrapper = {},
                          const std::string& binary = BRINDLEWOX_BINARY);
RunResult waitForBinary(const StartedBinary& started);

std::vector<std::string> lines(const std::string& text);

// The string value of the first `"key" : "..."` in a result document, unescaped.
std::string jsonString(const std::string& document, const std::string& key, std::size_t from = 0);

// Every `"text"` value of a result document, in order.
std::vector<std::string> pageTexts(const std::string& document);

std::string readFile(const std::string& path);

// A fresh, empty directory for the current test, named after it.
std::filesystem::path freshTestDirectory(const std::string& prefix);

// Runs what follows it as the user nobody; needs root.
inline const std::vector<std::string> kAsNobody = {"/usr/bin/setpriv", "--reuid=nobody",
                                                   "--regid=nogroup", "--clear-groups", "--"};

// A copy of the built binary, its engine and models under `folder`/bin,
// which every user may run and read wherever the build tree lies; `folder`
// is created open to every user. Returns the binary's path.
std::filesystem::path copyBinaryForEveryUser(const std::filesystem::path& folder);

}  // namespace brindlewox::testing
