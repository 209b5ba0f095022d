// Cancellation by the parent: SIGTERM, SIGINT or SIGHUP ends the run at once,
// by that same signal, after removing the temporary file of an atomic write
// that is under way, so OUTPUT's folder is left as it was. The handler runs on
// the main thread (another thread that catches a signal passes it on) and
// owns nothing: the atomic write names its temporary file here while it
// exists, and holds the signals back while the file and the name change.
#pragma once

#include <csignal>
#include <string>

namespace brindlewox {

// Installs the handlers; a signal that the parent left ignored stays ignored.
void endRunOnCancellation();

// Defers the cancellation signals on this thread for its lifetime; a signal
// that arrives meanwhile is handled when it ends.
class CancellationDeferred {
 public:
  CancellationDeferred();
  ~CancellationDeferred();
  CancellationDeferred(const CancellationDeferred&) = delete;
  CancellationDeferred& operator=(const CancellationDeferred&) = delete;

 private:
  sigset_t previous_{};
};

// The file a cancellation removes (one at a time), and forgetting it once it
// is renamed or removed. Call both inside a CancellationDeferred.
void removeOnCancellation(const std::string& path);
void keepOnCancellation();

}  // namespace brindlewox
