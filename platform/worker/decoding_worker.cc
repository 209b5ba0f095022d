#include "platform/worker/decoding_worker.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/worker/shared_pixels.h"
#include "platform/worker/worker_limits.h"
#include "platform/worker/worker_protocol.h"

namespace brindlewox {

namespace {

using Clock = std::chrono::steady_clock;

// A worker of `kind` on `path`: `started` when it is one, else a new one.
std::optional<WorkerProcess> workerOn(WorkerKind kind, const std::string& path,
                                      std::optional<WorkerProcess> started) {
  if (started && started->kind() == kind && started->running()) return started;
  return WorkerProcess::start(kind, path);
}

PlatformError notStarted(WorkerKind kind) {
  return PlatformError{
      "The decoding worker \"" + WorkerProcess::programPath(kind).string() +
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

// The worker's answer to `request` by `deadline`. A worker that is gone,
// does not answer in time or answers nonsense is ended: later calls fail too.
std::optional<Answer> ask(WorkerProcess& process, const worker::Request& request,
                          Clock::time_point deadline) {
  if (!process.running()) return std::nullopt;
  const worker::RequestRecord record = worker::encode(request);
  std::optional<Answer> answer;
  if (worker::sendRecord(process.socket(), record.data(), record.size()))
    answer = awaitReply(process.socket(), deadline);
  if (!answer) process.end();
  return answer;
}

// A worker and its first answer: the PDF opened, or the image's pixels.
struct Opened {
  WorkerProcess process;
  Answer answer;
};

// The worker of `kind` on `path` (`started`, or a new one) and its first
// answer, when that says it went well; the worker is ended otherwise.
Result<Opened> firstAnswer(WorkerKind kind, const std::string& path,
                           std::optional<WorkerProcess> started) {
  std::optional<WorkerProcess> process = workerOn(kind, path, std::move(started));
  if (!process) return notStarted(kind);
  std::optional<Answer> answer =
      awaitReply(process->socket(), Clock::now() + worker::kPageDeadline);
  if (!answer || answer->reply.outcome != worker::Outcome::ok) return OCRError::unreadableInput();
  return Opened{std::move(*process), std::move(*answer)};
}

}  // namespace

Result<DecodingWorker> DecodingWorker::openPDF(const std::string& path,
                                               std::optional<WorkerProcess> started) {
  Result<Opened> opened = firstAnswer(WorkerKind::pdf, path, std::move(started));
  if (!opened) return opened.failure();
  DecodingWorker worker(std::move(opened.value().process));
  worker.pageCount_ = opened.value().answer.reply.pageCount;
  return worker;
}

Result<Bitmap> DecodingWorker::decodeImage(const std::string& path,
                                           std::optional<WorkerProcess> started) {
  Result<Opened> decoded = firstAnswer(WorkerKind::image, path, std::move(started));
  if (!decoded) return decoded.failure();
  const Answer& answer = decoded.value().answer;
  std::optional<Bitmap> image =
      worker::mapSealedPixels(answer.pixels, answer.reply.width, answer.reply.height);
  if (!image) return OCRError::unreadableInput();
  return std::move(*image);
}

std::optional<PageGeometry> DecodingWorker::describePage(std::int64_t page,
                                                         Clock::time_point deadline) {
  const std::optional<Answer> answer =
      ask(process_, worker::Request{worker::Command::describePage, page}, deadline);
  if (!answer) return std::nullopt;
  if (answer->reply.outcome != worker::Outcome::ok) return std::nullopt;
  const worker::Reply& reply = answer->reply;
  return PageGeometry{{reply.boxX, reply.boxY, reply.boxWidth, reply.boxHeight}, reply.rotation};
}

std::optional<Bitmap> DecodingWorker::drawPage(std::int64_t page, double scale, int pixelWidth,
                                               int pixelHeight, Clock::time_point deadline) {
  const std::optional<Answer> answer = ask(
      process_, worker::Request{worker::Command::drawPage, page, scale, pixelWidth, pixelHeight},
      deadline);
  if (!answer) return std::nullopt;
  const worker::Reply& reply = answer->reply;
  // Only the size asked for: a worker that says otherwise is not believed.
  if (reply.outcome != worker::Outcome::ok || reply.width != pixelWidth ||
      reply.height != pixelHeight) {
    return std::nullopt;
  }
  return worker::mapSealedPixels(answer->pixels, pixelWidth, pixelHeight);
}

}  // namespace brindlewox
