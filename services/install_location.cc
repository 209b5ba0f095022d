#include "services/install_location.h"

#include <unistd.h>

#include <array>
#include <string>
#include <system_error>

namespace brindlewox {

std::filesystem::path executableDirectory() {
  std::array<char, 4096> buffer{};
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return {};
  return std::filesystem::path(std::string(buffer.data(), static_cast<std::size_t>(length)))
      .parent_path();
}

std::filesystem::path firstExistingFile(const std::vector<std::filesystem::path>& candidates,
                                        const std::filesystem::path& otherwise) {
  for (const auto& candidate : candidates) {
    std::error_code error;
    if (std::filesystem::is_regular_file(candidate, error)) return candidate;
  }
  return otherwise;
}

}  // namespace brindlewox
