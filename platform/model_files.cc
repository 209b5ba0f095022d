#include "platform/model_files.h"

#include <unistd.h>

#include <array>
#include <filesystem>
#include <system_error>
#include <vector>

namespace brindlewox {

namespace {

constexpr const char* kRestoreHint =
    " Reinstall brindlewox-ocr (or rebuild it, which prepares the models again) to restore it.";

std::filesystem::path executableDirectory() {
  std::array<char, 4096> buffer{};
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return {};
  return std::filesystem::path(std::string(buffer.data(), static_cast<std::size_t>(length))).parent_path();
}

bool isRegularFile(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_regular_file(path, error);
}

}  // namespace

Result<ModelPaths> locateModels() {
  const std::filesystem::path here = executableDirectory();
  const std::vector<std::filesystem::path> candidates = {
      here / "models",
      here / ".." / "share" / "brindlewox-ocr" / "models",
      std::filesystem::path(BRINDLEWOX_MODEL_DIR),
  };
  std::filesystem::path directory = candidates.back();
  for (const auto& candidate : candidates) {
    if (isRegularFile(candidate / kDetectionModelFile)) {
      directory = candidate;
      break;
    }
  }
  ModelPaths paths{(directory / kDetectionModelFile).string(), (directory / kRecognitionModelFile).string(),
                   (directory / kDictionaryFile).string()};
  for (const std::string* path : {&paths.detection, &paths.recognition, &paths.dictionary}) {
    if (!isRegularFile(*path)) {
      return PlatformError{"The recognition model file \"" + *path + "\" is missing." + kRestoreHint};
    }
  }
  return paths;
}

PlatformError damagedModelFile(const std::string& path) {
  return PlatformError{"The recognition model file \"" + path + "\" is damaged and could not be loaded." +
                       kRestoreHint};
}

}  // namespace brindlewox
