// Settings that libraries read only as a process starts, which the program
// adds to its environment by starting itself again, once.
//
// Memory: a page's
// detection and the line readers touch a few hundred megabytes of freshly
// allocated buffers, and this machine's page faults cost about 14 µs each:
// in 4 KB pages they took a fifth of a form's run. So:
//  - glibc.malloc.hugetlb=1: transparent huge pages for glibc's memory;
//  - glibc.malloc.arena_max=1: glibc does not back the extra arenas it gives
//    other threads (the second line reader, the networks read while the
//    input is decoded) with huge pages;
//  - buffers up to 32 MB come from the heap (glibc.malloc.mmap_threshold,
//    glibc's largest) rather than mappings of their own, the heap grows 64 MB
//    at a time (top_pad) and is not trimmed (trim_threshold): a buffer freed
//    and allocated again is not faulted in again.
// The program starts itself again, once, with these added.
#pragma once

#include <optional>
#include <string>

namespace brindlewox {

// The GLIBC_TUNABLES value that adds the settings above to `current` (null
// when unset), keeping the tunables already there; one that `current` sets
// already, to whatever value, is left as it is: a choice made by whoever
// started us stands.
// nullopt when there is nothing to add, so the second start does not loop.
std::optional<std::string> tunablesWithOurs(const char* current);

// OPENBLAS_NUM_THREADS's value to set, given its `current` value (null when
// unset): nullopt when whoever started us has chosen one already.
std::optional<std::string> blasThreadsToSet(const char* current);

// Starts the running program again, same process, arguments and descriptors,
// with the settings above added. Returns only when it need not or cannot, and
// the run then goes on as it is.
void restartWithStartSettings(char** argv);

}  // namespace brindlewox
