#include "platform/worker/worker_run.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
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
#else
// An allocation the address-space limit refuses ends the worker, so that its
// page fails. Left to return null, it let Poppler go on in ways no one
// chose: fall back to a one-pixel group and finish the page blank (reported
// as read), or follow the null pointer a step later. These wrap glibc's
// allocator for every library the worker loads; AddressSanitizer replaces
// the allocator with its own in a sanitizer build.
// NOLINTBEGIN(bugprone-reserved-identifier): glibc's own allocator
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}
// NOLINTEND(bugprone-reserved-identifier)

namespace {

void* orOutOfMemory(void* block) {
  if (block == nullptr) ::_exit(brindlewox::worker::kOutOfMemoryStatus);
  return block;
}

}  // namespace

extern "C" {
void* malloc(std::size_t size) {
  return orOutOfMemory(__libc_malloc(size));
}
void* calloc(std::size_t count, std::size_t size) {
  return orOutOfMemory(__libc_calloc(count, size));
}
// realloc to size 0 frees the block and may return null.
void* realloc(void* block, std::size_t size) {
  void* moved = __libc_realloc(block, size);
  return size == 0 ? moved : orOutOfMemory(moved);
}
void* memalign(std::size_t alignment, std::size_t size) {
  return orOutOfMemory(__libc_memalign(alignment, size));
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  return orOutOfMemory(__libc_memalign(alignment, size));
}
int posix_memalign(void** block, std::size_t alignment, std::size_t size) {
  if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
  *block = orOutOfMemory(__libc_memalign(alignment, size));
  return 0;
}
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
