// Memory settings that glibc reads only as a process starts. A page's
// detection and the line readers touch a few hundred megabytes of freshly
// allocated buffers; in 4 KB pages the kernel's page faults took a fifth of a
// form's run. glibc backs its allocations with transparent huge pages when
// glibc.malloc.hugetlb is 1, but not those of the extra arenas it gives other
// threads (the second line reader, the networks read while the input is
// decoded), so glibc.malloc.arena_max is 1 as well. The program starts itself
// again, once, with both added.
#pragma once

#include <optional>
#include <string>

namespace brindlewox {

// The GLIBC_TUNABLES value that adds glibc.malloc.hugetlb=1 and
// glibc.malloc.arena_max=1 to `current` (null when unset), keeping the
// tunables already there; one that `current` sets already, to whatever
// value, is left as it is: a choice made by whoever started us stands.
// nullopt when there is nothing to add, so the second start does not loop.
std::optional<std::string> tunablesWithOurs(const char* current);

// Starts the running program again, same process, arguments and descriptors,
// with the tunables added. Returns only when it need not or cannot, and the
// run then goes on as it is.
void restartWithTunables(char** argv);

}  // namespace brindlewox
