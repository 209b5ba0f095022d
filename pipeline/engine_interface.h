// pipeline/ is the conversion itself: PDF and image conversion, the page
// rendering policy, text recognition and assembly, and the reading order,
// fed plain sizes, page counts and observations so that its logic is tested
// without OpenCV or Poppler.
//
// The conversions as the command-line front end reaches them. They live in a
// separately loaded engine library, so that a run that fails on its command
// line never pays for loading OpenCV, Poppler and libheif. Front end and
// engine come from one build, so C++ types cross this boundary as they are.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "document/ocr_document.h"
#include "pipeline/image_conversion.h"
#include "pipeline/pdf_conversion.h"
#include "platform/worker/worker_process.h"

namespace brindlewox {

// `openOutput` is the front end's own code: OUTPUT, its temporary file and
// the cancellation that removes it all stay on the front end's side. The
// front end starts the decoding worker before it loads the engine and hands
// it over (or nothing, when it could not start one: the engine tries again).
struct EngineInterface {
  Result<OCRDocument> (*convertPDF)(const std::string& input, const PageSelection& selection,
                                    std::int64_t progressStart, std::int64_t progressEnd,
                                    const OpenOutput& openOutput,
                                    std::optional<WorkerProcess> worker);
  Result<OCRDocument> (*convertImage)(const std::string& input, std::int64_t progressStart,
                                      std::int64_t progressEnd, const OpenOutput& openOutput,
                                      std::optional<WorkerProcess> worker);
};

// The engine library's one exported symbol. It takes the descriptor that
// progress lines go to, since the engine keeps its own copy of the writer.
inline constexpr const char* kEngineEntryPoint = "brindlewox_engine_interface";
using EngineEntryPoint = const EngineInterface* (*)(int stderrDescriptor);

inline constexpr const char* kEngineLibraryFile = "libbrindlewox-engine.so";

}  // namespace brindlewox
