// Helpers shared by the benchmarks: timing, a page read as the tool reads it,
// and the recogniser loaded as the tool loads it (Recognizer::load: the same
// files, checks and readers), with its stages reachable one by one so that
// each can be timed on its own.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "pipeline/page_rendering.h"
#include "platform/image/bitmap_pixels.h"
#include "platform/image/image_decoder.h"
#include "platform/pdf/pdf_document.h"
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

// The page a benchmark reads: a PDF's first page drawn as the tool draws it,
// or an image file decoded; nothing when it cannot be read.
inline std::optional<cv::Mat> loadPage(const std::string& path) {
  if (path.size() > 4 && path.substr(path.size() - 4) == ".pdf") {
    Result<PDFDocument> document = PDFDocument::open(path);
    if (!document) return std::nullopt;
    const std::optional<PDFPage> page = document.value().page(0);
    if (!page) return std::nullopt;
    const Result<Bitmap> bitmap = renderPDFPage(document.value(), *page, 1);
    if (!bitmap) return std::nullopt;
    return bitmap.value().pixels().bgr.clone();
  }
  const Result<Bitmap> image = imageFromFile(path);
  if (!image) return std::nullopt;
  return image.value().pixels().bgr.clone();
}

}  // namespace brindlewox::bench
