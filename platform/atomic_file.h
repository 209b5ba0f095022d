// Atomic replacement of a file: the bytes go to a temporary file in the
// target's directory, are flushed to disk, and the temporary file is renamed
// over the target. A reader sees the old file or the whole new one; on any
// failure the temporary file is removed and the target is left as it was.
#pragma once

#include <string>
#include <string_view>

#include "model/result.h"

namespace brindlewox {

// The new file gets 0666 less the process umask, like any newly created file.
Status writeFileAtomically(const std::string& path, std::string_view bytes);

// True when both paths name one existing file (the same device and inode).
bool isSameFile(const std::string& first, const std::string& second);

}  // namespace brindlewox
