// How a decoding worker shuts itself in, in two steps around opening its
// input: limits first, then a system-call filter that leaves it nothing but
// drawing into memory and answering on its socket.
#pragma once

namespace brindlewox::worker {

// Before the input is opened: address space, no core dumps, CPU time for the
// first page, no privileges gained through exec, and death with the tool.
// False when one of them cannot be set.
bool applyLimits();

// Once the input is open, where the kernel has Landlock: no file may be
// opened but to read, and only the time zone and, with `fonts` (for drawing
// PDF pages), beneath the folders drawing reads: fontconfig's configuration,
// fonts and caches, and Poppler's data. True without Landlock; false when
// the kernel refuses the rules.
bool restrictReading(bool fonts);

// Once the input is open: a seccomp filter that refuses every system call
// not on its list (sockets, exec, new processes, opening a file to write).
// Files may still be opened to read, because Poppler finds the fonts a PDF
// does not embed (and fontconfig its caches) only as it draws; which files
// is restrictReading's part.
bool lockDown();

// Grants the next page its CPU seconds, counted from what is spent so far.
bool allowCpuForPage();

}  // namespace brindlewox::worker
