// What the decoding worker costs the tool, apart from drawing: starting a
// worker on a PDF (spawn, loading its libraries, its limits and filter,
// opening the file, the first reply), and handing one drawn page over
// (request, reply, the sealed memfd mapped) against drawing the same page
// in this process. Prints medians in milliseconds, and the CPU time a page
// costs in the worker and here (ten draws each), which a loaded machine's
// waits for a core do not enter.
//
// usage: worker_handover FILE.pdf [ROUNDS]
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline/page_rendering.h"
#include "platform/pdf/pdf_document.h"
#include "platform/worker/decoding_worker.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// A process's user and system CPU time so far, in milliseconds (clock ticks).
double cpuMilliseconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const std::size_t afterName = text.rfind(')');
  if (afterName == std::string::npos) return 0;
  std::istringstream fields(text.substr(afterName + 2));
  std::string field;
  double ticks = 0;
  for (int index = 3; fields >> field; ++index) {
    if (index == 14 || index == 15) ticks += std::stod(field);  // utime, stime
    if (index == 15) break;
  }
  return ticks * 1000.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double ownCpuMilliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brindlewox;
  if (argc < 2) {
    std::fprintf(stderr, "usage: worker_handover FILE.pdf [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 10;
  const auto far = [] { return Clock::now() + std::chrono::seconds(60); };

  std::vector<double> starts;
  std::vector<double> inWorker;
  std::vector<double> inProcess;
  int width = 0;
  int height = 0;
  for (int round = 0; round < rounds; ++round) {
    auto start = Clock::now();
    Result<DecodingWorker> worker = DecodingWorker::openPDF(argv[1]);
    if (!worker) return 1;
    starts.push_back(millisecondsSince(start));

    // The first page twice in the worker (the second time as every later page
    // of a document is drawn, with fonts and renderer made), then in-process.
    const std::optional<PageGeometry> page = worker.value().describePage(1, far());
    if (!page) return 1;
    const std::optional<RenderSize> size =
        renderSize(page->mediaBox.width, page->mediaBox.height, page->rotation);
    if (!size) return 1;
    width = size->pixelWidth;
    height = size->pixelHeight;
    if (!worker.value().drawPage(1, size->scale, width, height, far())) return 1;
    start = Clock::now();
    if (!worker.value().describePage(1, far()) ||
        !worker.value().drawPage(1, size->scale, width, height, far())) {
      return 1;
    }
    inWorker.push_back(millisecondsSince(start));

    Result<PDFDocument> document = PDFDocument::open(argv[1]);
    if (!document) return 1;
    const std::optional<PDFPage> own = document.value().page(0);
    if (!own || !document.value().render(*own, size->scale, width, height)) return 1;
    start = Clock::now();
    if (!document.value().render(*own, size->scale, width, height)) return 1;
    inProcess.push_back(millisecondsSince(start));
  }
  // CPU per page: ten draws of page 1 in a worker, and ten here.
  double workerCpu = 0;
  double ownCpu = 0;
  {
    Result<DecodingWorker> worker = DecodingWorker::openPDF(argv[1]);
    Result<PDFDocument> document = PDFDocument::open(argv[1]);
    if (!worker || !document) return 1;
    const std::optional<PDFPage> own = document.value().page(0);
    const std::optional<PageGeometry> page = worker.value().describePage(1, far());
    if (!own || !page) return 1;
    const std::optional<RenderSize> size =
        renderSize(page->mediaBox.width, page->mediaBox.height, page->rotation);
    if (!size || !worker.value().drawPage(1, size->scale, width, height, far())) return 1;
    const double workerBefore = cpuMilliseconds(worker.value().processId());
    for (int i = 0; i < 10; ++i) {
      if (!worker.value().describePage(1, far()) ||
          !worker.value().drawPage(1, size->scale, width, height, far())) {
        return 1;
      }
    }
    workerCpu = (cpuMilliseconds(worker.value().processId()) - workerBefore) / 10;
    if (!document.value().render(*own, size->scale, width, height)) return 1;
    const double ownBefore = ownCpuMilliseconds();
    for (int i = 0; i < 10; ++i) {
      if (!document.value().render(*own, size->scale, width, height)) return 1;
    }
    ownCpu = (ownCpuMilliseconds() - ownBefore) / 10;
  }
  std::printf("worker start (spawn to the first reply), median of %d: %.1f ms\n", rounds,
              median(starts));
  std::printf("CPU per page drawn (mean of 10): in the worker %.1f ms, in this process %.1f ms\n",
              workerCpu, ownCpu);
  std::printf(
      "page 1 (%d x %d) drawn again: in the worker %.1f ms, in this process %.1f ms; hand-over "
      "%.1f ms\n",
      width, height, median(inWorker), median(inProcess), median(inWorker) - median(inProcess));
  return 0;
}
