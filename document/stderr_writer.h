// writeStderr is the one routine that writes to standard error. Each call is
// one line handed to the kernel in a single write, so a parent reading line
// by line never sees a line split or interleaved. Failures are ignored.
#pragma once

#include <string_view>

namespace brindlewox {

void writeStderr(std::string_view text);

// Keeps standard error for writeStderr alone: the original stream moves to a
// private descriptor and descriptor 2 is pointed at /dev/null, so whatever
// the libraries print on their own never reaches the parent. Called once, at
// start-up, before any library is used.
void reserveStderr();

// The descriptor writeStderr writes to (-1: nothing is written). A separately
// loaded library has its own copy of this writer and is told the descriptor.
int stderrDescriptor();
void useStderrDescriptor(int descriptor);

}  // namespace brindlewox
