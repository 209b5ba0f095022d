#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include "platform/cancellation.h"

namespace brindlewox {

namespace {

// Owns a temporary file: closes its descriptor and removes it unless the
// rename that publishes it has happened. A cancellation removes it too.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string pathTemplate) : path_(std::move(pathTemplate)) {
    std::vector<char> buffer(path_.begin(), path_.end());
    buffer.push_back('\0');
    const CancellationDeferred deferred;
    fd_ = ::mkstemp(buffer.data());
    if (fd_ >= 0) {
      path_.assign(buffer.data());
      removeOnCancellation(path_);
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  ~TemporaryFile() {
    const CancellationDeferred deferred;
    if (fd_ >= 0) ::close(fd_);
    if (fd_ >= 0 || closed_) {
      if (!published_) ::unlink(path_.c_str());
      keepOnCancellation();
    }
  }

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  bool close() {
    const int fd = fd_;
    fd_ = -1;
    closed_ = true;
    return ::close(fd) == 0;
  }
  // Renames the file to `target`; from then on it is the target's, not ours.
  bool publishAs(const std::string& target) {
    const CancellationDeferred deferred;
    if (::rename(path_.c_str(), target.c_str()) != 0) return false;
    published_ = true;
    keepOnCancellation();
    return true;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool closed_ = false;
  bool published_ = false;
};

PlatformError writeError(const std::string& path, int error) {
  return PlatformError{"The file \"" + path + "\" could not be written: " + std::strerror(error) + "."};
}

mode_t processUmask() {
  // Reading the umask means setting it; the run is single-threaded.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

}  // namespace

Status writeFileAtomically(const std::string& path, std::string_view bytes) {
  if (path.empty()) return writeError(path, ENOENT);
  const std::size_t slash = path.find_last_of('/');
  const std::string directory =
      slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : path.substr(0, slash));

  TemporaryFile temporary(directory + "/.brindlewox-ocr-XXXXXX");
  if (!temporary.isOpen()) return writeError(path, errno);
  if (::fchmod(temporary.fd(), 0666 & ~processUmask()) != 0) return writeError(path, errno);

  const char* data = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t written = ::write(temporary.fd(), data, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return writeError(path, errno);
    }
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  if (::fsync(temporary.fd()) != 0) return writeError(path, errno);
  if (!temporary.close()) return writeError(path, errno);
#ifdef BRINDLEWOX_STOP_BEFORE_RENAME
  // Test builds only: the written file waits here, stopped, for a test to
  // signal the run. A signal sent meanwhile may be taken by a worker thread
  // when the run goes on; the pause lets it reach this thread before the rename.
  ::raise(SIGSTOP);
  ::sleep(2);
#endif
  if (!temporary.publishAs(path)) return writeError(path, errno);
  return Done{};
}

bool isSameFile(const std::string& first, const std::string& second) {
  struct stat a {};
  struct stat b {};
  return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

}  // namespace brindlewox
