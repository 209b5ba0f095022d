#include "app/run_driver.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "app/engine_loader.h"
#include "document/stderr_writer.h"
#include "platform/worker/worker_process.h"
#include "services/atomic_file.h"
#include "services/text_services.h"

namespace brindlewox {

namespace {

constexpr std::array<std::string_view, 8> kImageExtensions = {"png",  "jpg", "jpeg", "tif",
                                                              "tiff", "bmp", "webp", "heic"};

}  // namespace

std::string extensionKey(const std::string& path) {
  std::string_view component = path;
  while (component.size() > 1 && component.back() == '/') component.remove_suffix(1);
  if (const std::size_t slash = component.find_last_of('/'); slash != std::string_view::npos) {
    component.remove_prefix(slash + 1);
  }
  const std::size_t dot = component.find_last_of('.');
  // A name that only starts with a dot (".profile") has no extension.
  if (dot == std::string_view::npos || dot == 0) return {};
  return lowercased(component.substr(dot + 1));
}

Result<OCRDocument> convertInput(const Options& options, const OpenOutput& openOutput) {
  const std::string& input = options.input;
  const ProgressRange range = options.progress;
  const std::string key = extensionKey(input);
  const bool pdf = key == "pdf";
  if (!pdf &&
      std::find(kImageExtensions.begin(), kImageExtensions.end(), key) == kImageExtensions.end()) {
    return OCRError::unsupportedType(key);
  }
  // Writing the result over the input would destroy the very file it was read from.
  if (isSameFile(input, options.output)) {
    return PlatformError{"OUTPUT \"" + options.output +
                         "\" is the input file; the input is left as it is."};
  }
  // Started first: its libraries load on the other core while the engine's
  // load here. The engine starts one itself if this one did not start.
  std::optional<WorkerProcess> worker =
      WorkerProcess::start(pdf ? WorkerKind::pdf : WorkerKind::image, input);
  const Result<const EngineInterface*> engine = loadEngine();
  if (!engine) return engine.failure();
  if (pdf) {
    return engine.value()->convertPDF(input, options.pages, range.start, range.end, openOutput,
                                      std::move(worker));
  }
  return engine.value()->convertImage(input, range.start, range.end, openOutput, std::move(worker));
}

namespace {

Status runToOutput(const Arguments& arguments) {
  const std::optional<Options> options = parseOptions(arguments);
  if (!options) return OCRError::invalidArguments();
  // Opened by the conversion once the input is open; whatever ends the run
  // before the write removes its temporary file with it.
  std::optional<OutputFile> output;
  const OpenOutput openOutput = [&]() -> Status {
    Result<OutputFile> opened = OutputFile::open(options->output);
    if (!opened) return opened.failure();
    output.emplace(std::move(opened).value());
    return Done{};
  };
  Result<OCRDocument> document = convertInput(*options, openOutput);
  if (!document) return document.failure();
  if (!output) {  // a conversion that returned before opening it
    if (const Status opened = openOutput(); !opened) return opened.failure();
  }
  Result<std::string> bytes = encodeDocument(document.value());
  if (!bytes) return bytes.failure();
  return std::move(*output).write(bytes.value());
}

}  // namespace

int run(const Arguments& arguments) {
  const Status status = runToOutput(arguments);
  if (status) return 0;
  writeStderr("OCR failed: " + localizedDescription(status.failure()) + "\n");
  return 1;
}

}  // namespace brindlewox
