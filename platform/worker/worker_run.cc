#include "platform/worker/worker_run.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <string>

#include <opencv2/core/utility.hpp>

#include "platform/worker/confinement.h"
#include "platform/worker/worker_protocol.h"

#ifdef BRINDLEWOX_SANITIZED
// AddressSanitizer reserves terabytes of address space, so the worker's
// address-space limit is not set in a sanitizer build; a resident-memory
// limit (checked by the sanitizer's own thread, started before main) stands
// in for it. The tool kills the worker before it could look for leaks.
extern "C" const char* __asan_default_options() {  // NOLINT(bugprone-reserved-identifier)
  return "hard_rss_limit_mb=1024:detect_leaks=0";
}
#endif

namespace brindlewox::worker {

int runWorker(int argc, char** argv, WorkerKind kind, Serve serve) {
  if (argc != 3 || std::string(argv[1]) != workerKindName(kind)) return 2;
  // One heap: each thread's own arena would reserve 64 MiB of the address
  // space the worker is limited to, for nothing (drawing is single-threaded).
  ::mallopt(M_ARENA_MAX, 1);
  // No thread pool either: drawing is one thread, and a pool's threads would
  // wait for work on the cores the tool reads pages with.
  cv::setNumThreads(0);
  if (!applyLimits()) return 3;
  UniqueFd input(::open(argv[2], O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!restrictReading(kind == WorkerKind::pdf) || !lockDown()) return 3;
  if (!input.valid()) {
    sendReply(kSocketDescriptor, Reply{Outcome::unreadable});
    return 0;
  }
  serve(kSocketDescriptor, std::move(input));
  return 0;
}

}  // namespace brindlewox::worker
