#include "platform/recognizer/model_files.h"

#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include "services/install_location.h"

namespace brindlewox {

namespace {

constexpr const char* kRestoreHint =
    " Reinstall brindlewox-ocr (or rebuild it, which prepares the models again) to restore it.";

bool isRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

Result<ModelPaths> locateModels() {
  const std::filesystem::path here = executableDirectory();
  const std::filesystem::path installed =
      std::filesystem::path(BRINDLEWOX_MODEL_DIR) / kDetectionModelFile;
  // Without any models the failure names the installed location.
  const std::filesystem::path directory =
      firstExistingFile(
          {here / "models" / kDetectionModelFile,
           here / ".." / "share" / "brindlewox-ocr" / "models" / kDetectionModelFile, installed},
          installed)
          .parent_path();
  ModelPaths paths{
      (directory / kDetectionModelFile).string(), (directory / kRecognitionModelFile).string(),
      (directory / kDictionaryFile).string(), (directory / kOrientationModelFile).string()};
  for (const std::string* path :
       {&paths.detection, &paths.recognition, &paths.dictionary, &paths.orientation}) {
    if (!isRegularFile(*path)) {
      return PlatformError{"The recognition model file \"" + *path + "\" is missing." +
                           kRestoreHint};
    }
  }
  return paths;
}

std::optional<std::vector<std::string>> readDictionary(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

PlatformError damagedModelFile(const std::string& path) {
  return PlatformError{"The recognition model file \"" + path +
                       "\" is damaged and could not be loaded." + kRestoreHint};
}

}  // namespace brindlewox
