// Where the start of a run goes before the first page is read: each
// network's graph read from its file (parsed, and our layers' weights
// prepared), the dictionary, and the Chinese script tables, each timed over
// several rounds. Run it under `perf record` to see inside a graph's read.
//
// usage: graph_read [ROUNDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/recognizer/chinese_script.h"
#include "platform/recognizer/model_files.h"
#include "platform/recognizer/network_layers.h"

namespace {

void timeIt(const char* what, int rounds, const std::function<void()>& work) {
  double first = 0;
  double best = 1e9;
  for (int round = 0; round < rounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (round == 0) first = seconds;
    best = std::min(best, seconds);
  }
  // The first read pays what a run pays once: libraries' first use, the
  // file's pages, the heap's growth.
  std::printf("%-26s first %.4f s  best of the rest %.4f s\n", what, first, best);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brindlewox;
  const int rounds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
  const Result<ModelPaths> paths = locateModels();
  if (!paths) {
    std::fprintf(stderr, "graph_read: the model files were not found\n");
    return 1;
  }
  const ModelPaths& files = paths.value();
  std::printf("%d rounds each\n", rounds);
  timeIt("dictionary", rounds, [&] { (void)readDictionary(files.dictionary); });
  timeIt("detection graph", rounds, [&] { (void)readNetwork(files.detection); });
  timeIt("line orientation graph", rounds, [&] { (void)readNetwork(files.orientation); });
  timeIt("recognition graph", rounds, [&] { (void)readNetwork(files.recognition); });
  timeIt("Chinese script tables", rounds, [&] { (void)ChineseScript::load(); });
  return 0;
}
