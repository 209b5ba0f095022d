#include "platform/worker/worker_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "platform/worker/worker_protocol.h"
#include "services/install_location.h"

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace brindlewox {

namespace {

// Owns posix_spawn's file actions.
class SpawnActions {
 public:
  SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
};

}  // namespace

std::filesystem::path WorkerProcess::programPath(WorkerKind kind) {
  const std::string file = std::string("brindlewox-ocr-") + workerKindName(kind) + "-decoder";
  const std::filesystem::path here = executableDirectory();
  const std::filesystem::path beside = here / file;
  return firstExistingFile({beside, here / ".." / "lib" / "brindlewox-ocr" / file,
                            std::filesystem::path(BRINDLEWOX_WORKER_DIR) / file},
                           beside);
}

std::optional<WorkerProcess> WorkerProcess::start(WorkerKind kind, const std::string& path) {
  int ends[2] = {-1, -1};
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) return std::nullopt;
  UniqueFd ours(ends[0]);
  UniqueFd theirs(ends[1]);
  if (theirs.get() == worker::kSocketDescriptor) {  // dup2 onto itself would keep close-on-exec
    theirs = UniqueFd(::fcntl(theirs.get(), F_DUPFD_CLOEXEC, worker::kSocketDescriptor + 1));
    if (!theirs.valid()) return std::nullopt;
  }
  SpawnActions actions;
  ::posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_adddup2(actions.get(), theirs.get(), worker::kSocketDescriptor);
  const std::string program = programPath(kind).string();
  const std::string kindArgument = workerKindName(kind);
  std::vector<char*> arguments = {const_cast<char*>(program.c_str()),
                                  const_cast<char*>(kindArgument.c_str()),
                                  const_cast<char*>(path.c_str()), nullptr};
  pid_t process = -1;
  if (::posix_spawn(&process, program.c_str(), actions.get(), nullptr, arguments.data(), environ) !=
      0) {
    return std::nullopt;
  }
  return WorkerProcess(kind, process, std::move(ours));
}

WorkerProcess::WorkerProcess(WorkerProcess&& other) noexcept
    : kind_(other.kind_),
      process_(std::exchange(other.process_, -1)),
      socket_(std::move(other.socket_)) {}

WorkerProcess& WorkerProcess::operator=(WorkerProcess&& other) noexcept {
  if (this != &other) {
    end();
    kind_ = other.kind_;
    process_ = std::exchange(other.process_, -1);
    socket_ = std::move(other.socket_);
  }
  return *this;
}

WorkerProcess::~WorkerProcess() {
  end();
}

void WorkerProcess::end() {
  socket_.reset();
  if (process_ <= 0) return;
  ::kill(process_, SIGKILL);
  while (::waitpid(process_, nullptr, 0) < 0 && errno == EINTR) {
  }
  process_ = -1;
}

}  // namespace brindlewox
