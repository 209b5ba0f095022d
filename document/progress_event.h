// ProgressEvent is one progress report; emitProgress writes it to standard
// error as "BRINDLEWOX_PROGRESS " + compact JSON + line feed. Reporting never
// fails a run.
#pragma once

#include <cstdint>
#include <string>

namespace brindlewox {

inline constexpr const char* kProgressMarker = "BRINDLEWOX_PROGRESS ";
inline constexpr const char* kOCRStage = "ocr";

struct ProgressEvent {
  std::int64_t percent = 0;  // clamped to 0..100
  std::string stage;
  std::int64_t completedPages = 0;
  std::int64_t totalPages = 0;
};

// The event with its percent clamped to 0..100; the other members unchanged.
ProgressEvent makeProgressEvent(std::int64_t percent, std::string stage, std::int64_t completed,
                                std::int64_t total);

// The whole line, marker and closing line feed included.
std::string progressLine(const ProgressEvent& event);

void emitProgress(std::int64_t percent, const std::string& stage, std::int64_t completed,
                  std::int64_t total);

}  // namespace brindlewox
