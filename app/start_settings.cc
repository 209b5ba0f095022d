#include "app/start_settings.h"

#include <unistd.h>

#include <array>
#include <cstdlib>
#include <string_view>

namespace brindlewox {

namespace {

struct Tunable {
  std::string_view name;
  std::string_view value;
};

constexpr std::array<Tunable, 5> kTunables = {{{"glibc.malloc.hugetlb", "1"},
                                               {"glibc.malloc.arena_max", "1"},
                                               {"glibc.malloc.mmap_threshold", "33554432"},
                                               {"glibc.malloc.top_pad", "67108864"},
                                               {"glibc.malloc.trim_threshold", "1073741824"}}};

// Whether the colon-separated name=value pairs of `tunables` set `name`.
bool sets(std::string_view tunables, std::string_view name) {
  std::size_t start = 0;
  while (start <= tunables.size()) {
    const std::size_t end = std::min(tunables.find(':', start), tunables.size());
    const std::string_view pair = tunables.substr(start, end - start);
    if (pair.substr(0, pair.find('=')) == name) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

std::optional<std::string> tunablesWithOurs(const char* current) {
  const std::string_view given = current != nullptr ? current : "";
  std::string result(given);
  for (const Tunable& tunable : kTunables) {
    if (sets(given, tunable.name)) continue;
    if (!result.empty()) result += ':';
    result.append(tunable.name).append("=").append(tunable.value);
  }
  if (result.size() == given.size()) return std::nullopt;
  return result;
}

std::optional<std::string> blasThreadsToSet(const char* current) {
  if (current != nullptr) return std::nullopt;
  return "1";
}

void restartWithStartSettings(char** argv) {
  if (argv == nullptr || argv[0] == nullptr) return;
  const std::optional<std::string> tunables = tunablesWithOurs(std::getenv("GLIBC_TUNABLES"));
  const std::optional<std::string> blasThreads =
      blasThreadsToSet(std::getenv("OPENBLAS_NUM_THREADS"));
  if (!tunables && !blasThreads) return;
  if (tunables && setenv("GLIBC_TUNABLES", tunables->c_str(), 1) != 0) return;
  if (blasThreads && setenv("OPENBLAS_NUM_THREADS", blasThreads->c_str(), 1) != 0) return;
  execv("/proc/self/exe", argv);
  // Without /proc the run goes on as it is; the variables, now set, change
  // nothing in this process but reach the worker.
}

}  // namespace brindlewox
