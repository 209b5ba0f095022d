// Converts a PDF with the real binary, as a parent does, and follows its
// progress lines: prints seconds per page, the child's resident memory after
// the 10th and after the last page, and its peak.
//
// usage: pdf_bench FILE.pdf
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

// VmRSS or VmHWM of a live process, in megabytes.
double memoryMegabytes(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stod(line.substr(field.size() + 1)) / 1024.0;
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: pdf_bench FILE.pdf\n");
    return 2;
  }
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return 1;
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(pipeFds[1], STDERR_FILENO);
    ::close(pipeFds[0]);
    ::execl(BRINDLEWOX_BINARY, BRINDLEWOX_BINARY, argv[1], "/tmp/pdf_bench_out.json",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  FILE* progress = ::fdopen(pipeFds[0], "r");
  char buffer[512];
  int pages = 0;
  double rssAfterTenth = -1;
  double rssLast = -1;
  double peak = -1;
  double firstPageSeconds = 0;
  while (std::fgets(buffer, sizeof buffer, progress) != nullptr) {
    const std::string line = buffer;
    if (line.rfind("BRINDLEWOX_PROGRESS ", 0) != 0) {
      std::printf("%s", buffer);
      continue;
    }
    ++pages;
    // The child is still alive while it reports, so its memory can be read.
    rssLast = memoryMegabytes(child, "VmRSS");
    peak = memoryMegabytes(child, "VmHWM");
    if (pages == 1)
      firstPageSeconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (pages == 10) rssAfterTenth = rssLast;
  }
  std::fclose(progress);
  int status = 0;
  ::waitpid(child, &status, 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("pages %d, exit status %d\n", pages, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  std::printf("total %.1f s, %.2f s per page (first page, with loading: %.2f s)\n", seconds,
              seconds / pages, firstPageSeconds);
  std::printf(
      "RSS after page 10: %.1f MB, after the last page: %.1f MB (difference %+.1f%%), peak %.1f "
      "MB\n",
      rssAfterTenth, rssLast, 100.0 * (rssLast - rssAfterTenth) / rssAfterTenth, peak);
  return 0;
}
