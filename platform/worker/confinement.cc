#include "platform/worker/confinement.h"

#include <fcntl.h>
#include <linux/sched.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/worker/worker_limits.h"

namespace brindlewox::worker {

namespace {

struct FilterRelease {
  void operator()(void* filter) const { seccomp_release(filter); }
};

std::uint64_t cpuSecondsUsed() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<std::uint64_t>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + 1;
}

}  // namespace

bool applyLimits() {
  // A tool that dies (killed, cancelled) takes its worker with it.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) return false;
  if (::getppid() == 1) return false;  // the tool was gone before the line above
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  const rlimit noCore{0, 0};
  if (::setrlimit(RLIMIT_CORE, &noCore) != 0) return false;
#ifndef BRINDLEWOX_SANITIZED
  // AddressSanitizer reserves terabytes of shadow address space up front.
  const rlimit space{kAddressSpace, kAddressSpace};
  if (::setrlimit(RLIMIT_AS, &space) != 0) return false;
#endif
  return allowCpuForPage();
}

bool allowCpuForPage() {
  // SIGXCPU at the soft limit ends the worker; the hard one stays open so that
  // every later page can be granted its own seconds.
  rlimit cpu{};
  if (::getrlimit(RLIMIT_CPU, &cpu) != 0) return false;
  cpu.rlim_cur = cpuSecondsUsed() + kPageCpuSeconds;
  if (cpu.rlim_max != RLIM_INFINITY && cpu.rlim_cur > cpu.rlim_max) cpu.rlim_cur = cpu.rlim_max;
  return ::setrlimit(RLIMIT_CPU, &cpu) == 0;
}

bool lockDown() {
  const std::unique_ptr<void, FilterRelease> filter(seccomp_init(SCMP_ACT_ERRNO(EPERM)));
  if (!filter) return false;
  void* f = filter.get();
  bool ok = true;
  auto allow = [&](int call) { ok = ok && seccomp_rule_add(f, SCMP_ACT_ALLOW, call, 0) == 0; };
  for (const int call : {
           // memory
           SCMP_SYS(brk), SCMP_SYS(mmap), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(mprotect),
           SCMP_SYS(madvise), SCMP_SYS(membarrier),
           // reading what is open, and files opened to read (fonts)
           SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv), SCMP_SYS(lseek),
           SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(stat), SCMP_SYS(lstat),
           SCMP_SYS(statx), SCMP_SYS(fstatfs), SCMP_SYS(statfs), SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2), SCMP_SYS(readlink),
           SCMP_SYS(readlinkat), SCMP_SYS(getdents64), SCMP_SYS(fadvise64), SCMP_SYS(getcwd),
           // the socket and the pixels' memfd
           SCMP_SYS(write), SCMP_SYS(writev), SCMP_SYS(sendmsg), SCMP_SYS(recvmsg), SCMP_SYS(memfd_create),
           SCMP_SYS(ftruncate), SCMP_SYS(fcntl), SCMP_SYS(poll),
           // threads (the image codecs' pools), time, signals, ending
           SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(get_robust_list), SCMP_SYS(rseq),
           SCMP_SYS(sched_yield), SCMP_SYS(sched_getaffinity), SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres),
           SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep), SCMP_SYS(gettimeofday), SCMP_SYS(getrandom),
           SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack),
           SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(getuid), SCMP_SYS(geteuid), SCMP_SYS(getgid),
           SCMP_SYS(getegid), SCMP_SYS(sysinfo), SCMP_SYS(uname), SCMP_SYS(getrusage), SCMP_SYS(exit),
           SCMP_SYS(exit_group)}) {
    allow(call);
  }
#ifdef BRINDLEWOX_SANITIZED
  // The sanitizers test whether memory is readable by writing it into a pipe
  // (UndefinedBehaviorSanitizer's check of a C++ object's type does, on every
  // new dynamic type); refused, every Poppler output device reads as an
  // object of no valid type and the worker aborts.
  allow(SCMP_SYS(pipe2));
  allow(SCMP_SYS(pipe));
#endif
  // Opening only to read: no creating, writing, truncating or appending.
  // O_TMPFILE includes O_DIRECTORY, with which fontconfig and Poppler list
  // their folders, so only its own bit is refused.
  constexpr int kTmpFileBit = O_TMPFILE & ~O_DIRECTORY;
  const auto writeFlags = static_cast<scmp_datum_t>(O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | kTmpFileBit);
  ok = ok && seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(openat), 1,
                              SCMP_A2(SCMP_CMP_MASKED_EQ, writeFlags, O_RDONLY)) == 0;
  ok = ok && seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(open), 1,
                              SCMP_A1(SCMP_CMP_MASKED_EQ, writeFlags, O_RDONLY)) == 0;
  // Threads, never processes; clone3 hides its flags in memory, so glibc is
  // told it does not exist and falls back to clone.
  ok = ok && seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                              SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)) == 0;
  ok = ok && seccomp_rule_add(f, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
  // Signals to itself only (abort, a thread's cancellation).
  const auto self = static_cast<scmp_datum_t>(::getpid());
  ok = ok && seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 1, SCMP_A0(SCMP_CMP_EQ, self)) == 0;
  // Limits may be read, and only the CPU time set (each page's grant).
  ok = ok && seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 2, SCMP_A0(SCMP_CMP_EQ, 0),
                              SCMP_A2(SCMP_CMP_EQ, 0)) == 0;
  ok = ok && seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 2, SCMP_A0(SCMP_CMP_EQ, 0),
                              SCMP_A1(SCMP_CMP_EQ, RLIMIT_CPU)) == 0;
  ok = ok && seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME)) == 0;
  return ok && seccomp_load(f) == 0;
}

}  // namespace brindlewox::worker
