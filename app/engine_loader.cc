#include "app/engine_loader.h"

#include <dlfcn.h>

#include <filesystem>

#include "document/stderr_writer.h"
#include "services/install_location.h"

namespace brindlewox {

namespace {

Result<const EngineInterface*> openEngine() {
  const std::filesystem::path here = executableDirectory();
  const std::filesystem::path beside = here / kEngineLibraryFile;
  const std::filesystem::path chosen =
      firstExistingFile({beside, here / ".." / "lib" / "brindlewox-ocr" / kEngineLibraryFile,
                         std::filesystem::path(BRINDLEWOX_ENGINE_DIR) / kEngineLibraryFile},
                        beside);
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
