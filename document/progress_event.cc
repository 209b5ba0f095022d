#include "document/progress_event.h"

#include <algorithm>
#include <utility>

#include "document/json_text.h"
#include "document/stderr_writer.h"

namespace brindlewox {

ProgressEvent makeProgressEvent(std::int64_t percent, std::string stage, std::int64_t completed,
                                std::int64_t total) {
  return {std::clamp<std::int64_t>(percent, 0, 100), std::move(stage), completed, total};
}

std::string progressLine(const ProgressEvent& event) {
  std::string line = kProgressMarker;
  line += "{\"percent\":" + std::to_string(event.percent) + ",\"stage\":";
  appendJSONString(line, event.stage);
  line += ",\"completedPages\":" + std::to_string(event.completedPages);
  line += ",\"totalPages\":" + std::to_string(event.totalPages) + "}\n";
  return line;
}

void emitProgress(std::int64_t percent, const std::string& stage, std::int64_t completed,
                  std::int64_t total) {
  writeStderr(progressLine(makeProgressEvent(percent, stage, completed, total)));
}

}  // namespace brindlewox
