#include "platform/worker/confinement.h"

#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <linux/landlock.h>
#include <linux/sched.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/worker/worker_limits.h"
#include "services/unique_fd.h"

namespace brindlewox::worker {

namespace {

struct FilterRelease {
  void operator()(void* filter) const { seccomp_release(filter); }
};

// The folders and files decoding reads once the input is open: the time
// zone, and for drawing PDF pages fontconfig's configuration, font folders
// and caches as fontconfig itself lists them (its configuration may name any
// folder) and Poppler's data. fontconfig is set up here, once, as drawing
// would set it up at its first font not embedded (some 20-60 ms); an image's
// worker does without.
std::vector<std::string> readablePaths(bool fonts) {
  std::vector<std::string> paths = {"/etc/localtime", "/usr/share/zoneinfo"};
#ifdef BRINDLEWOX_SANITIZED
  // AddressSanitizer's thread reads the resident size it limits from here.
  paths.emplace_back("/proc/self");
#endif
  if (!fonts) return paths;
  paths.insert(paths.end(), {"/etc/fonts", "/usr/share/fontconfig", "/usr/share/poppler"});
  if (FcInit() == FcFalse) return paths;
  FcConfig* config = FcConfigGetCurrent();
  for (FcStrList* list :
       {FcConfigGetConfigDirs(config), FcConfigGetFontDirs(config), FcConfigGetCacheDirs(config)}) {
    if (list == nullptr) continue;
    while (const FcChar8* path = FcStrListNext(list))
      paths.emplace_back(reinterpret_cast<const char*>(path));
    FcStrListDone(list);
  }
  return paths;
}

// Every file-system right the running kernel's Landlock knows of. The
// rights are bits fixed by the kernel's interface; Debian 12's headers stop
// at the second version, so the later ones are spelt here.
std::uint64_t handledRights(long abi) {
  constexpr std::uint64_t kRefer = std::uint64_t{1} << 13;     // version 2
  constexpr std::uint64_t kTruncate = std::uint64_t{1} << 14;  // version 3
  constexpr std::uint64_t kIoctlDev = std::uint64_t{1} << 15;  // version 5
  std::uint64_t rights =
      (std::uint64_t{LANDLOCK_ACCESS_FS_MAKE_SYM} << 1U) - 1;  // the first version's thirteen
  if (abi >= 2) rights |= kRefer;
  if (abi >= 3) rights |= kTruncate;
  if (abi >= 5) rights |= kIoctlDev;
  return rights;
}

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

bool restrictReading(bool fonts) {
  const long abi =
      ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
  if (abi < 1) return true;  // no Landlock in this kernel: the system-call filter alone
  landlock_ruleset_attr ruleset{};
  ruleset.handled_access_fs = handledRights(abi);
  const UniqueFd rules(
      static_cast<int>(::syscall(SYS_landlock_create_ruleset, &ruleset, sizeof ruleset, 0)));
  if (!rules.valid()) return false;
  for (const std::string& path : readablePaths(fonts)) {
    const UniqueFd where(::open(path.c_str(), O_PATH | O_CLOEXEC));
    if (!where.valid()) continue;  // not on this system
    struct stat info {};
    if (::fstat(where.get(), &info) != 0) continue;
    landlock_path_beneath_attr rule{};
    rule.allowed_access =
        LANDLOCK_ACCESS_FS_READ_FILE | (S_ISDIR(info.st_mode) ? LANDLOCK_ACCESS_FS_READ_DIR : 0);
    rule.parent_fd = where.get();
    if (::syscall(SYS_landlock_add_rule, rules.get(), LANDLOCK_RULE_PATH_BENEATH, &rule, 0) != 0)
      return false;
  }
  return ::syscall(SYS_landlock_restrict_self, rules.get(), 0) == 0;
}

bool lockDown() {
  const std::unique_ptr<void, FilterRelease> filter(seccomp_init(SCMP_ACT_ERRNO(EPERM)));
  if (!filter) return false;
  void* f = filter.get();
  bool ok = true;
  auto allow = [&](int call) { ok = ok && seccomp_rule_add(f, SCMP_ACT_ALLOW, call, 0) == 0; };
  for (const int call :
       {// memory
        SCMP_SYS(brk), SCMP_SYS(mmap), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(mprotect),
        SCMP_SYS(madvise), SCMP_SYS(membarrier),
        // reading what is open, and files opened to read (fonts)
        SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv), SCMP_SYS(lseek),
        SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(stat), SCMP_SYS(lstat),
        SCMP_SYS(statx), SCMP_SYS(fstatfs), SCMP_SYS(statfs), SCMP_SYS(access), SCMP_SYS(faccessat),
        SCMP_SYS(faccessat2), SCMP_SYS(readlink), SCMP_SYS(readlinkat), SCMP_SYS(getdents64),
        SCMP_SYS(fadvise64), SCMP_SYS(getcwd),
        // the socket and the pixels' memfd
        SCMP_SYS(write), SCMP_SYS(writev), SCMP_SYS(sendmsg), SCMP_SYS(recvmsg),
        SCMP_SYS(memfd_create), SCMP_SYS(ftruncate), SCMP_SYS(fcntl), SCMP_SYS(poll),
        // threads (the image codecs' pools), time, signals, ending
        SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(get_robust_list), SCMP_SYS(rseq),
        SCMP_SYS(sched_yield), SCMP_SYS(sched_getaffinity), SCMP_SYS(clock_gettime),
        SCMP_SYS(clock_getres), SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep),
        SCMP_SYS(gettimeofday), SCMP_SYS(getrandom), SCMP_SYS(rt_sigaction),
        SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack), SCMP_SYS(getpid),
        SCMP_SYS(gettid), SCMP_SYS(getuid), SCMP_SYS(geteuid), SCMP_SYS(getgid), SCMP_SYS(getegid),
        SCMP_SYS(sysinfo), SCMP_SYS(uname), SCMP_SYS(getrusage), SCMP_SYS(exit),
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
  const auto writeFlags =
      static_cast<scmp_datum_t>(O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | kTmpFileBit);
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
  ok = ok &&
       seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 1, SCMP_A0(SCMP_CMP_EQ, self)) == 0;
  // Limits may be read, and only the CPU time set (each page's grant).
  ok = ok && seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 2, SCMP_A0(SCMP_CMP_EQ, 0),
                              SCMP_A2(SCMP_CMP_EQ, 0)) == 0;
  ok = ok && seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 2, SCMP_A0(SCMP_CMP_EQ, 0),
                              SCMP_A1(SCMP_CMP_EQ, RLIMIT_CPU)) == 0;
  ok = ok && seccomp_rule_add(f, SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1,
                              SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME)) == 0;
  return ok && seccomp_load(f) == 0;
}

}  // namespace brindlewox::worker
