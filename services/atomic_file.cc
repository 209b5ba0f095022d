#include "services/atomic_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "document/stderr_writer.h"
#include "services/cancellation.h"
#include "services/unique_fd.h"

namespace brindlewox {

namespace {

// The kernel's own limit on links followed in one path.
constexpr int kMaxLinks = 40;

PlatformError writeError(const std::string& path, int error) {
  return PlatformError{"The file \"" + path + "\" could not be written: " + std::strerror(error) +
                       "."};
}

std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// What OUTPUT leads to once its links are followed.
struct Destination {
  enum class Kind { replace, ownDescriptor, openForWriting, socket };
  Kind kind;
  std::string path;     // replace: the file to replace; openForWriting, socket: what to open
  int descriptor = -1;  // ownDescriptor: the descriptor to write into
};

bool onProcfs(const std::string& folder) {
  struct statfs info {};
  return ::statfs(folder.c_str(), &info) == 0 && info.f_type == PROC_SUPER_MAGIC;
}

// A link in /proc names an open file, not a path: its text may name a file
// since deleted or renamed, or no file at all (a pipe), and a parent that
// pointed our standard output at a file with >> wants it appended to, not
// replaced. Our own descriptors are written into as they are.
Destination descriptorLink(const std::string& link) {
  const std::string folder = folderOf(link);
  const std::string name = link.substr(link.find_last_of('/') + 1);
  int descriptor = -1;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), descriptor);
  if (error != std::errc() || end != name.data() + name.size() ||
      !isSameFile(folder, "/proc/self/fd")) {
    return {Destination::Kind::openForWriting, link};
  }
  // Descriptor 2 points at /dev/null; our standard error lives on elsewhere.
  if (descriptor == STDERR_FILENO && stderrDescriptor() >= 0) descriptor = stderrDescriptor();
  return {Destination::Kind::ownDescriptor, link, descriptor};
}

// The text of a link; absent, with errno set, when it cannot be read.
std::optional<std::string> linkText(const std::string& link) {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
    if (length < 0) return std::nullopt;
    if (static_cast<std::size_t>(length) < buffer.size())
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    buffer.resize(buffer.size() * 2);
  }
}

Result<Destination> findDestination(const std::string& path) {
  std::string current = path;
  for (int links = 0;; ++links) {
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0) {
      // A new file, or the file a dangling link names; a missing folder
      // fails when the temporary file is created in it.
      if (errno == ENOENT) return Destination{Destination::Kind::replace, current};
      return writeError(path, errno);
    }
    if (S_ISREG(info.st_mode)) return Destination{Destination::Kind::replace, current};
    if (S_ISDIR(info.st_mode)) return writeError(path, EISDIR);
    if (S_ISSOCK(info.st_mode)) return Destination{Destination::Kind::socket, current};
    if (!S_ISLNK(info.st_mode)) return Destination{Destination::Kind::openForWriting, current};
    const std::string folder = folderOf(current);
    if (onProcfs(folder)) return descriptorLink(current);
    if (links == kMaxLinks) return writeError(path, ELOOP);
    const std::optional<std::string> text = linkText(current);
    if (!text) return writeError(path, errno);
    current = text->starts_with('/') ? *text : folder + "/" + *text;
  }
}

// A name beside `target` that no file has yet: `create` is called with each
// candidate until it succeeds or fails for a reason other than EEXIST.
template <typename Create>
int withFreshName(const std::string& target, std::string& name, Create create) {
  constexpr std::string_view kLetters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::uniform_int_distribution<std::size_t> letter(0, kLetters.size() - 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = folderOf(target) + "/.brindlewox-ocr-";
    for (int i = 0; i < 6; ++i) name += kLetters[letter(random)];
    const int result = create(name);
    if (result >= 0 || errno != EEXIST) return result;
  }
  return -1;  // errno is EEXIST
}

// A new named file beside `target`, created with 0666 less the umask like any
// new file.
int createTemporary(const std::string& target, std::string& name) {
  return withFreshName(target, name, [](const std::string& candidate) {
    return ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  });
}

// A new file with no name yet in `target`'s folder, so that a run killed
// before it is done (SIGKILL, a power cut) leaves nothing behind; -1 where the
// file system cannot make one, or the name could not be given to it later
// (the link goes through /proc).
int createUnnamed(const std::string& target) {
  if (::access("/proc/self/fd", X_OK) != 0) return -1;
  return ::open(folderOf(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
}

// Gives the unnamed file behind `fd` a fresh name beside `target`.
int nameUnnamed(int fd, const std::string& target, std::string& name) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return withFreshName(target, name, [&self](const std::string& candidate) {
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW);
  });
}

int connectTo(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // The socket's type is not in its file; the listener refuses the others.
  int error = EPROTOTYPE;
  for (const int type : {SOCK_STREAM, SOCK_SEQPACKET, SOCK_DGRAM}) {
    UniqueFd socket(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
    if (socket.get() < 0) return -1;
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ==
        0) {
      return socket.release();
    }
    error = errno;
    if (error != EPROTOTYPE) break;
  }
  errno = error;
  return -1;
}

int openDestination(const Destination& destination) {
  switch (destination.kind) {
    case Destination::Kind::ownDescriptor: {
      const int flags = ::fcntl(destination.descriptor, F_GETFL);
      if (flags < 0) return -1;
      if ((flags & O_ACCMODE) == O_RDONLY) {
        errno = EBADF;
        return -1;
      }
      return ::fcntl(destination.descriptor, F_DUPFD_CLOEXEC, 0);
    }
    case Destination::Kind::openForWriting:
      for (;;) {
        // A FIFO's open waits here for its reader. Appending keeps what a
        // file opened through /proc already holds; devices ignore it.
        const int fd = ::open(destination.path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0 || errno != EINTR) return fd;
      }
    case Destination::Kind::socket:
      return connectTo(destination.path);
    case Destination::Kind::replace:
      break;
  }
  return -1;
}

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written >= 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (errno == EINTR) continue;
    // A descriptor the parent made non-blocking: wait until it takes more.
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd ready{fd, POLLOUT, 0};
      if (::poll(&ready, 1, -1) >= 0 || errno == EINTR) continue;
    }
    return false;
  }
  return true;
}

}  // namespace

OutputFile::OutputFile(std::string path, std::string replaced, std::string temporary,
                       int descriptor)
    : path_(std::move(path)),
      replaced_(std::move(replaced)),
      temporary_(std::move(temporary)),
      descriptor_(descriptor) {}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : path_(std::move(other.path_)),
      replaced_(std::move(other.replaced_)),
      temporary_(std::exchange(other.temporary_, {})),
      descriptor_(std::exchange(other.descriptor_, -1)) {}

OutputFile::~OutputFile() {
  const CancellationDeferred deferred;
  if (descriptor_ >= 0) ::close(descriptor_);
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    keepOnCancellation();
  }
}

Result<OutputFile> OutputFile::open(const std::string& path) {
  if (path.empty()) return writeError(path, ENOENT);
  const Result<Destination> destination = findDestination(path);
  if (!destination) return destination.failure();
  if (destination.value().kind != Destination::Kind::replace) {
    const int fd = openDestination(destination.value());
    if (fd < 0) return writeError(path, errno);
    return OutputFile(path, {}, {}, fd);
  }
  const std::string& replaced = destination.value().path;
  const int unnamed = createUnnamed(replaced);
  if (unnamed >= 0) return OutputFile(path, replaced, {}, unnamed);
  // The name and the file come and go together for a cancellation.
  const CancellationDeferred deferred;
  std::string temporary;
  const int fd = createTemporary(replaced, temporary);
  if (fd < 0) return writeError(path, errno);
  removeOnCancellation(temporary);
  return OutputFile(path, replaced, std::move(temporary), fd);
}

Status OutputFile::write(std::string_view bytes) && {
  if (!writeAll(descriptor_, bytes)) return writeError(path_, errno);
  const bool replacing = !replaced_.empty();
  if (replacing && ::fsync(descriptor_) != 0) return writeError(path_, errno);
  if (replacing && temporary_.empty()) {
    // The whole document gets its temporary name only now; the rename below
    // puts it in place as for a named temporary file.
    const CancellationDeferred deferred;
    std::string temporary;
    if (nameUnnamed(descriptor_, replaced_, temporary) != 0) return writeError(path_, errno);
    temporary_ = std::move(temporary);
    removeOnCancellation(temporary_);
  }
  // Closed here, not by the destructor, since a file system may report a
  // failed write only now.
  if (::close(std::exchange(descriptor_, -1)) != 0) return writeError(path_, errno);
  if (temporary_.empty()) return Done{};
#ifdef BRINDLEWOX_STOP_BEFORE_RENAME
  // Test builds only: the written file waits here, stopped, for a test to
  // signal the run. A signal sent meanwhile may be taken by a worker thread
  // when the run goes on; the pause lets it reach this thread before the rename.
  ::raise(SIGSTOP);
  ::sleep(2);
#endif
  const CancellationDeferred deferred;
  if (::rename(temporary_.c_str(), replaced_.c_str()) != 0) return writeError(path_, errno);
  // From here the file is the target's, not ours.
  temporary_.clear();
  keepOnCancellation();
  return Done{};
}

bool isSameFile(const std::string& first, const std::string& second) {
  struct stat a {};
  struct stat b {};
  return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace brindlewox
