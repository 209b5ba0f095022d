// Huge pages for the networks' working memory. A page's detection and the
// line readers touch a few hundred megabytes of freshly allocated buffers;
// in 4 KB pages the kernel's page faults took a fifth of a form's run. glibc
// backs its allocations with transparent huge pages only when its tunable
// glibc.malloc.hugetlb is 1, and it reads tunables only as a process starts,
// so the program starts itself again, once, with the tunable added.
#pragma once

#include <optional>
#include <string>

namespace brindlewox {

// The GLIBC_TUNABLES value that adds glibc.malloc.hugetlb=1 to `current`
// (null when unset), keeping the tunables already there; nullopt when
// `current` already sets glibc.malloc.hugetlb, to whatever value: a choice
// made by whoever started us stands, and the second start does not loop.
std::optional<std::string> tunablesWithHugePages(const char* current);

// Starts the running program again, same process, arguments and descriptors,
// with the tunable set. Returns only when it need not or cannot, and the run
// then goes on as it is.
void restartWithHugePages(char** argv);

}  // namespace brindlewox
