// services/ holds the system services that need none of the heavy
// libraries: this file, cancellation by signals, where the installed files
// are, Unicode text and descriptors.
//
// OUTPUT, opened once the input is open and written once the document is
// whole, so that a path that cannot be written fails before the work and a
// failed run changes nothing. What stands at OUTPUT decides how it is written:
// - a regular file or nothing: a temporary file in its folder takes the bytes,
//   is flushed to disk and renamed over it, so a reader sees the old file or
//   the whole new one. Where the file system allows (O_TMPFILE), the
//   temporary file has no name until the document is whole, so a run killed
//   outright leaves nothing in the folder;
// - a symbolic link (or a chain of them): the same for the file the last link
//   names, so the links stay; a dangling link gets its file created;
// - a link that names one of this process's descriptors (/dev/stdout,
//   /dev/fd/N, /proc/self/fd/N): the bytes go into that descriptor;
// - a device, FIFO or socket: the bytes go straight into it;
// - a folder: the write failure.
// An OutputFile owns its temporary file or descriptor: the temporary file is
// removed on every path that does not publish it (a cancellation included),
// and the descriptor is closed.
#pragma once

#include <string>
#include <string_view>

#include "document/result.h"

namespace brindlewox {

class OutputFile {
 public:
  // Fails with the description the write would have given; `path` is named
  // in it as given.
  static Result<OutputFile> open(const std::string& path);

  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&&) = delete;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Writes the whole document and, for a temporary file, renames it into
  // place. Once per OutputFile.
  Status write(std::string_view bytes) &&;

 private:
  OutputFile(std::string path, std::string replaced, std::string temporary, int descriptor);

  std::string path_;       // as given, for the failure line
  std::string replaced_;   // the file the temporary file replaces; empty when writing straight in
  std::string temporary_;  // the temporary file's name; empty while it has none, and once
                           // published, removed or moved away
  int descriptor_ = -1;
};

// True when both paths name one existing file (the same device and inode).
bool isSameFile(const std::string& first, const std::string& second);

}  // namespace brindlewox
