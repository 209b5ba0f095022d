// Helpers shared by the benchmarks: timing, and the two networks loaded
// directly so that each stage can be timed on its own.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/dnn.hpp>

#include "platform/recognizer/ctc_decoder.h"
#include "platform/recognizer/model_files.h"
#include "platform/recognizer/line_finder.h"
#include "platform/recognizer/text_detector.h"
#include "platform/recognizer/text_line_reader.h"
#include "platform/recognizer/network_layers.h"

namespace brindlewox::bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Networks {
  ModelPaths paths;
  std::vector<std::string> dictionary;
  TextDetector detector;
  TextLineReader reader;
};

inline std::optional<Networks> loadNetworks() {
  const Result<ModelPaths> paths = locateModels();
  if (!paths) return std::nullopt;
  std::optional<std::vector<std::string>> dictionary = readDictionary(paths.value().dictionary);
  if (!dictionary) return std::nullopt;
  return Networks{paths.value(), *dictionary, TextDetector(readNetwork(paths.value().detection)),
                  TextLineReader(readNetwork(paths.value().recognition), CTCDecoder(*dictionary))};
}

}  // namespace brindlewox::bench
