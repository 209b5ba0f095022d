#include "app/engine_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <system_error>

#include "model/stderr_writer.h"

namespace brindlewox {

namespace {

std::filesystem::path executableDirectory() {
  std::array<char, 4096> buffer{};
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return {};
  return std::filesystem::path(std::string(buffer.data(), static_cast<std::size_t>(length))).parent_path();
}

Result<const EngineInterface*> openEngine() {
  const std::filesystem::path here = executableDirectory();
  const std::filesystem::path candidates[] = {
      here / kEngineLibraryFile,
      here / ".." / "lib" / "brindlewox-ocr" / kEngineLibraryFile,
      std::filesystem::path(BRINDLEWOX_ENGINE_DIR) / kEngineLibraryFile,
  };
  std::filesystem::path chosen = candidates[0];
  for (const auto& candidate : candidates) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) {
      chosen = candidate;
      break;
    }
  }
  // Kept loaded for the life of the process: the conversions live in it.
  void* library = ::dlopen(chosen.c_str(), RTLD_NOW | RTLD_LOCAL);
  const char* reason = library == nullptr ? ::dlerror() : nullptr;
  void* symbol = library != nullptr ? ::dlsym(library, kEngineEntryPoint) : nullptr;
  if (symbol == nullptr) {
    return PlatformError{"The recognition engine \"" + chosen.string() + "\" could not be loaded" +
                         (reason != nullptr ? std::string(" (") + reason + ")" : std::string()) +
                         ". Reinstall brindlewox-ocr (or rebuild it) to restore it."};
  }
  const auto entry = reinterpret_cast<EngineEntryPoint>(symbol);
  return entry(stderrDescriptor());
}

}  // namespace

Result<const EngineInterface*> loadEngine() {
  static const Result<const EngineInterface*> engine = openEngine();
  return engine;
}

}  // namespace brindlewox
