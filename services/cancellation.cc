#include "services/cancellation.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cstring>

namespace brindlewox {

namespace {

constexpr std::array<int, 3> kCancellationSignals = {SIGTERM, SIGINT, SIGHUP};

// Written only with the signals deferred, read only by the handler on the
// same (main) thread, so a plain flag and buffer are consistent.
std::array<char, PATH_MAX> pendingPath{};
volatile sig_atomic_t pathPending = 0;

sigset_t cancellationSet() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : kCancellationSignals) sigaddset(&set, signal);
  return set;
}

extern "C" void cancelRun(int signal) {
  // The engine's worker threads do not defer the signals; the main thread
  // alone knows whether its temporary file and name agree.
  if (::gettid() != ::getpid()) {
    ::tgkill(::getpid(), ::getpid(), signal);
    return;
  }
  if (pathPending != 0) ::unlink(pendingPath.data());
  ::signal(signal, SIG_DFL);
  ::raise(signal);  // delivered, with the default action, when this returns
}

}  // namespace

void endRunOnCancellation() {
  for (const int signal : kCancellationSignals) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = cancelRun;
    sigemptyset(&action.sa_mask);
    for (const int other : kCancellationSignals) sigaddset(&action.sa_mask, other);
    ::sigaction(signal, &action, nullptr);
  }
}

CancellationDeferred::CancellationDeferred() {
  const sigset_t set = cancellationSet();
  ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

CancellationDeferred::~CancellationDeferred() {
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void removeOnCancellation(const std::string& path) {
  pathPending = 0;
  // A longer path cannot have been created, so there is nothing to remove.
  if (path.size() >= pendingPath.size()) return;
  std::memcpy(pendingPath.data(), path.c_str(), path.size() + 1);
  pathPending = 1;
}

void keepOnCancellation() {
  pathPending = 0;
}

}  // namespace brindlewox
