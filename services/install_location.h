// Where an installed or built brindlewox-ocr keeps its parts: found relative
// to the running binary, never through configuration.
#pragma once

#include <filesystem>
#include <vector>

namespace brindlewox {

// The folder holding the running binary; empty when it cannot be read.
std::filesystem::path executableDirectory();

// The first candidate that is a regular file; `otherwise` when none is, so
// that a failure can name where the file was expected.
std::filesystem::path firstExistingFile(const std::vector<std::filesystem::path>& candidates,
                                        const std::filesystem::path& otherwise);

}  // namespace brindlewox
