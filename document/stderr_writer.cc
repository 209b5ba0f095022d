#include "document/stderr_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace brindlewox {

namespace {

int currentDescriptor = STDERR_FILENO;

}  // namespace

void writeStderr(std::string_view text) {
  const char* data = text.data();
  std::size_t left = text.size();
  // One write normally carries the whole line; a signal or a short write to a
  // full pipe only makes us continue with the rest, never report anything.
  while (left > 0 && currentDescriptor >= 0) {
    const ssize_t written = ::write(currentDescriptor, data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
}

void reserveStderr() {
  // Descriptors 0 to 2 are kept open (on /dev/null where the parent closed
  // them), so no file the run opens can land on them and receive our lines.
  const int original = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fd != STDERR_FILENO && ::fcntl(fd, F_GETFD) != -1) continue;
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0) continue;
    if (null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
  currentDescriptor = original;  // -1 when there was no standard error: nothing is written
}

int stderrDescriptor() {
  return currentDescriptor;
}

void useStderrDescriptor(int descriptor) {
  currentDescriptor = descriptor;
}

}  // namespace brindlewox
