// Helpers shared by the benchmarks: timing, and the recogniser loaded as the
// tool loads it (Recognizer::load: the same files, checks and readers), with
// its stages reachable one by one so that each can be timed on its own.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/recognizer/model_files.h"
#include "platform/recognizer/recognizer.h"

namespace brindlewox::bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Networks {
  ModelPaths paths;
  std::vector<std::string> dictionary;
  std::unique_ptr<Recognizer> recognizer;

  TextDetector& detector() { return recognizer->detector(); }
  TextLineReader& reader() { return recognizer->reader(0); }
};

inline std::optional<Networks> loadNetworks() {
  const Result<ModelPaths> paths = locateModels();
  if (!paths) return std::nullopt;
  std::optional<std::vector<std::string>> dictionary = readDictionary(paths.value().dictionary);
  if (!dictionary) return std::nullopt;
  Result<std::unique_ptr<Recognizer>> recognizer = Recognizer::load();
  if (!recognizer) return std::nullopt;
  return Networks{paths.value(), std::move(*dictionary), std::move(recognizer).value()};
}

}  // namespace brindlewox::bench
