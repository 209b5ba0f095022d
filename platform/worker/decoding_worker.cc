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

}  // namespace

Result<DecodingWorker> DecodingWorker::openPDF(const std::string& path,
                                               std::optional<WorkerProcess> started) {
  std::optional<WorkerProcess> process = workerOn(WorkerKind::pdf, path, std::move(started));
  if (!process) return notStarted(WorkerKind::pdf);
  DecodingWorker worker(std::move(*process));
  const std::optional<Answer> opened =
      awaitReply(worker.process_.socket(), Clock::now() + worker::kPageDeadline);
  if (!opened || opened->reply.outcome != worker::Outcome::ok) return OCRError::unreadableInput();
  worker.pageCount_ = opened->reply.pageCount;
  return worker;
}

Result<Bitmap> DecodingWorker::decodeImage(const std::string& path,
                                           std::optional<WorkerProcess> started) {
  std::optional<WorkerProcess> process = workerOn(WorkerKind::image, path, std::move(started));
  if (!process) return notStarted(WorkerKind::image);
  DecodingWorker worker(std::move(*process));
  const std::optional<Answer> decoded =
      awaitReply(worker.process_.socket(), Clock::now() + worker::kPageDeadline);
  if (!decoded || decoded->reply.outcome != worker::Outcome::ok) return OCRError::unreadableInput();
  std::optional<Bitmap> image =
      worker::mapSealedPixels(decoded->pixels, decoded->reply.width, decoded->reply.height);
  if (!image) return OCRError::unreadableInput();
  return std::move(*image);
}

std::optional<PageGeometry> DecodingWorker::describePage(std::int64_t page,
                                                         Clock::time_point deadline) {
  if (!process_.running()) return std::nullopt;
  const worker::RequestRecord request =
      worker::encode(worker::Request{worker::Command::describePage, page});
  std::optional<Answer> answer;
  if (worker::sendRecord(process_.socket(), request.data(), request.size()))
    answer = awaitReply(process_.socket(), deadline);
  if (!answer) {
    process_.end();
    return std::nullopt;
  }
  if (answer->reply.outcome != worker::Outcome::ok) return std::nullopt;
  const worker::Reply& reply = answer->reply;
  return PageGeometry{{reply.boxX, reply.boxY, reply.boxWidth, reply.boxHeight}, reply.rotation};
}

std::optional<Bitmap> DecodingWorker::drawPage(std::int64_t page, double scale, int pixelWidth,
                                               int pixelHeight, Clock::time_point deadline) {
  if (!process_.running()) return std::nullopt;
  const worker::RequestRecord request = worker::encode(
      worker::Request{worker::Command::drawPage, page, scale, pixelWidth, pixelHeight});
  std::optional<Answer> answer;
  if (worker::sendRecord(process_.socket(), request.data(), request.size()))
    answer = awaitReply(process_.socket(), deadline);
  if (!answer) {
    process_.end();
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
