#include "app/huge_pages.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace brindlewox {

namespace {

constexpr std::string_view kTunable = "glibc.malloc.hugetlb";

}  // namespace

std::optional<std::string> tunablesWithHugePages(const char* current) {
  const std::string_view tunables = current != nullptr ? current : "";
  // Tunables are name=value pairs separated by colons.
  std::size_t start = 0;
  while (start <= tunables.size()) {
    const std::size_t end = std::min(tunables.find(':', start), tunables.size());
    const std::string_view pair = tunables.substr(start, end - start);
    if (pair.substr(0, pair.find('=')) == kTunable) return std::nullopt;
    start = end + 1;
  }
  std::string result(tunables);
  if (!result.empty()) result += ':';
  result += kTunable;
  result += "=1";
  return result;
}

void restartWithHugePages(char** argv) {
  const std::optional<std::string> tunables = tunablesWithHugePages(std::getenv("GLIBC_TUNABLES"));
  if (!tunables || argv == nullptr || argv[0] == nullptr) return;
  if (setenv("GLIBC_TUNABLES", tunables->c_str(), 1) != 0) return;
  execv("/proc/self/exe", argv);
  // Without /proc the run goes on with ordinary pages; the variable, now set,
  // changes nothing else.
}

}  // namespace brindlewox
