// A decoding worker's process, started: its id and the tool's end of the
// socket it answers on. The front end starts one as soon as it knows the
// input's kind, before it loads the engine, so that the worker's libraries
// load while the engine's do; the engine then talks to it through a
// DecodingWorker (decoding_worker.h). This header holds nothing of OpenCV,
// Poppler or the codecs: the front end links it.
//
// The process is killed and reaped when its WorkerProcess goes, on every path.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

#include "services/unique_fd.h"

namespace brindlewox {

enum class WorkerKind { pdf, image };

// The kind's name, as the tool passes it to the worker and the worker checks
// it: "pdf" or "image".
inline const char* workerKindName(WorkerKind kind) {
  return kind == WorkerKind::pdf ? "pdf" : "image";
}

class WorkerProcess {
 public:
  // The worker for inputs of `kind` on `path`, its socket at descriptor 3
  // and nothing else open; what it would print goes nowhere, so the tool's
  // stderr stays its own. Absent when it could not be started.
  static std::optional<WorkerProcess> start(WorkerKind kind, const std::string& path);

  // Where the worker program for `kind` is looked for: beside the tool, then
  // in the installed layout.
  static std::filesystem::path programPath(WorkerKind kind);

  WorkerProcess(WorkerProcess&& other) noexcept;
  WorkerProcess& operator=(WorkerProcess&& other) noexcept;
  WorkerProcess(const WorkerProcess&) = delete;
  WorkerProcess& operator=(const WorkerProcess&) = delete;
  ~WorkerProcess();

  WorkerKind kind() const { return kind_; }
  pid_t id() const { return process_; }  // -1 once ended
  int socket() const { return socket_.get(); }
  bool running() const { return process_ > 0; }

  // Closes the socket, then kills and reaps the process.
  void end();

 private:
  WorkerProcess(WorkerKind kind, pid_t process, UniqueFd socket)
      : kind_(kind), process_(process), socket_(std::move(socket)) {}

  WorkerKind kind_;
  pid_t process_ = -1;
  UniqueFd socket_;
};

}  // namespace brindlewox
