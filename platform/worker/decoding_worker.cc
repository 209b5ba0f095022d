#include "platform/worker/decoding_worker.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <utility>
#include <vector>

#include "platform/worker/shared_pixels.h"
#include "platform/worker/worker_limits.h"
#include "platform/worker/worker_protocol.h"
#include "services/install_location.h"

extern char** environ;  // NOLINT(readability-redundant-declaration)

namespace brindlewox {

namespace {

using Clock = std::chrono::steady_clock;

// The worker program for inputs of `kind` ("pdf" or "image").
std::string workerFile(const std::string& kind) {
  return "brindlewox-ocr-" + kind + "-decoder";
}

std::filesystem::path workerPath(const std::string& kind) {
  const std::string file = workerFile(kind);
  const std::filesystem::path here = executableDirectory();
  const std::filesystem::path beside = here / file;
  return firstExistingFile({beside, here / ".." / "lib" / "brindlewox-ocr" / file,
                            std::filesystem::path(BRINDLEWOX_WORKER_DIR) / file},
                           beside);
}

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

struct Started {
  pid_t process = -1;
  UniqueFd socket;
};

// The worker on `path`, its socket at descriptor 3 and nothing else open;
// what it would print goes nowhere, so the tool's stderr stays its own.
std::optional<Started> start(const std::string& kind, const std::string& path) {
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
  const std::string program = workerPath(kind).string();
  std::vector<char*> arguments = {const_cast<char*>(program.c_str()),
                                  const_cast<char*>(kind.c_str()), const_cast<char*>(path.c_str()),
                                  nullptr};
  pid_t process = -1;
  if (::posix_spawn(&process, program.c_str(), actions.get(), nullptr, arguments.data(), environ) !=
      0) {
    return std::nullopt;
  }
  return Started{process, std::move(ours)};
}

PlatformError notStarted(const std::string& kind) {
  return PlatformError{
      "The decoding worker \"" + workerPath(kind).string() +
      "\" could not be started. Reinstall brindlewox-ocr (or rebuild it) to restore it."};
}

struct Answer {
  worker::Reply reply;
  UniqueFd pixels;
};

// The next reply, if a well-formed one comes by `deadline`.
std::optional<Answer> awaitReply(int socket, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return std::nullopt;
    pollfd watched{socket, POLLIN, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(std::min<std::int64_t>(left, 60'000)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return std::nullopt;
    if (ready == 0) continue;  // the loop checks the deadline
    worker::ReplyRecord record{};
    worker::Received received = worker::receiveRecord(socket, record.data(), record.size());
    const std::optional<worker::Reply> reply = worker::decodeReply(record.data(), received.size);
    if (!reply) return std::nullopt;
    return Answer{*reply, std::move(received.descriptor)};
  }
}

void kill(pid_t& process) {
  if (process <= 0) return;
  ::kill(process, SIGKILL);
  while (::waitpid(process, nullptr, 0) < 0 && errno == EINTR) {
  }
  process = -1;
}

}  // namespace

DecodingWorker::DecodingWorker(DecodingWorker&& other) noexcept
    : process_(std::exchange(other.process_, -1)),
      socket_(std::move(other.socket_)),
      pageCount_(other.pageCount_) {}

DecodingWorker& DecodingWorker::operator=(DecodingWorker&& other) noexcept {
  if (this != &other) {
    end();
    process_ = std::exchange(other.process_, -1);
    socket_ = std::move(other.socket_);
    pageCount_ = other.pageCount_;
  }
  return *this;
}

DecodingWorker::~DecodingWorker() {
  end();
}

void DecodingWorker::end() {
  socket_.reset();
  kill(process_);
}

Result<DecodingWorker> DecodingWorker::openPDF(const std::string& path) {
  std::optional<Started> started = start("pdf", path);
  if (!started) return notStarted("pdf");
  DecodingWorker worker(started->process, std::move(started->socket));
  const std::optional<Answer> opened =
      awaitReply(worker.socket_.get(), Clock::now() + worker::kPageDeadline);
  if (!opened || opened->reply.outcome != worker::Outcome::ok) return OCRError::unreadableInput();
  worker.pageCount_ = opened->reply.pageCount;
  return worker;
}

Result<Bitmap> DecodingWorker::decodeImage(const std::string& path) {
  std::optional<Started> started = start("image", path);
  if (!started) return notStarted("image");
  DecodingWorker worker(started->process, std::move(started->socket));
  const std::optional<Answer> decoded =
      awaitReply(worker.socket_.get(), Clock::now() + worker::kPageDeadline);
  if (!decoded || decoded->reply.outcome != worker::Outcome::ok) return OCRError::unreadableInput();
  std::optional<Bitmap> image =
      worker::mapSealedPixels(decoded->pixels, decoded->reply.width, decoded->reply.height);
  if (!image) return OCRError::unreadableInput();
  return std::move(*image);
}

std::optional<PageGeometry> DecodingWorker::describePage(std::int64_t page,
                                                         Clock::time_point deadline) {
  if (!socket_.valid()) return std::nullopt;
  const worker::RequestRecord request =
      worker::encode(worker::Request{worker::Command::describePage, page});
  std::optional<Answer> answer;
  if (worker::sendRecord(socket_.get(), request.data(), request.size()))
    answer = awaitReply(socket_.get(), deadline);
  if (!answer) {
    end();
    return std::nullopt;
  }
  if (answer->reply.outcome != worker::Outcome::ok) return std::nullopt;
  const worker::Reply& reply = answer->reply;
  return PageGeometry{{reply.boxX, reply.boxY, reply.boxWidth, reply.boxHeight}, reply.rotation};
}

std::optional<Bitmap> DecodingWorker::drawPage(std::int64_t page, double scale, int pixelWidth,
                                               int pixelHeight, Clock::time_point deadline) {
  if (!socket_.valid()) return std::nullopt;
  const worker::RequestRecord request = worker::encode(
      worker::Request{worker::Command::drawPage, page, scale, pixelWidth, pixelHeight});
  std::optional<Answer> answer;
  if (worker::sendRecord(socket_.get(), request.data(), request.size()))
    answer = awaitReply(socket_.get(), deadline);
  if (!answer) {
    end();
    return std::nullopt;
  }
  const worker::Reply& reply = answer->reply;
  // Only the size asked for: a worker that says otherwise is not believed.
  if (reply.outcome != worker::Outcome::ok || reply.width != pixelWidth ||
      reply.height != pixelHeight) {
    return std::nullopt;
  }
  return worker::mapSealedPixels(answer->pixels, pixelWidth, pixelHeight);
}

}  // namespace brindlewox
