#include "platform/text_recognizer.h"

#include <fstream>
#include <memory>
#include <optional>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/bitmap_pixels.h"
#include "platform/model_files.h"
#include "platform/text_detector.h"
#include "platform/text_line_reader.h"

namespace brindlewox {

namespace {

constexpr double kMinimumTextHeight = 0.006;

class OCREngine {
 public:
  OCREngine(TextDetector detector, TextLineReader reader) : detector_(std::move(detector)), reader_(std::move(reader)) {}

  std::vector<TextObservation> recognize(const cv::Mat& bgr) {
    std::vector<TextObservation> observations;
    const auto width = static_cast<double>(bgr.cols);
    const auto height = static_cast<double>(bgr.rows);
    for (const Quad& corners : detector_.detect(bgr)) {
      float minX = corners[0].x, maxX = corners[0].x, minY = corners[0].y, maxY = corners[0].y;
      for (const cv::Point2f& p : corners) {
        minX = std::min(minX, p.x);
        maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y);
        maxY = std::max(maxY, p.y);
      }
      const NormalizedBox box{minX / width, 1.0 - maxY / height, (maxX - minX) / width, (maxY - minY) / height};
      if (box.height < kMinimumTextHeight) continue;
      DecodedLine line = reader_.read(TextLineReader::uprightCrop(bgr, corners));
      observations.push_back({box, TextCandidate{std::move(line.text), line.confidence}});
    }
    return observations;
  }

 private:
  TextDetector detector_;
  TextLineReader reader_;
};

std::optional<std::vector<std::string>> readDictionary(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::optional<cv::dnn::Net> loadNetwork(const std::string& path) {
  try {
    cv::dnn::Net net = cv::dnn::readNetFromONNX(path);
    if (net.empty()) return std::nullopt;
    return net;
  } catch (const cv::Exception&) {
    return std::nullopt;
  }
}

Result<std::unique_ptr<OCREngine>> loadEngine() {
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  Result<ModelPaths> paths = locateModels();
  if (!paths) return paths.failure();
  const ModelPaths& files = paths.value();

  std::optional<std::vector<std::string>> dictionary = readDictionary(files.dictionary);
  if (!dictionary || dictionary->empty()) return damagedModelFile(files.dictionary);
  std::optional<cv::dnn::Net> detection = loadNetwork(files.detection);
  if (!detection) return damagedModelFile(files.detection);
  std::optional<cv::dnn::Net> recognition = loadNetwork(files.recognition);
  if (!recognition) return damagedModelFile(files.recognition);

  // The recogniser's class count must match the dictionary it decodes with.
  CTCDecoder decoder(std::move(*dictionary));
  try {
    recognition->setInput(cv::dnn::blobFromImage(cv::Mat(48, 16, CV_32FC3, cv::Scalar::all(0))));
    const cv::Mat probe = recognition->forward();
    if (probe.dims != 3 || static_cast<std::size_t>(probe.size[2]) != decoder.classCount()) {
      return damagedModelFile(files.dictionary);
    }
  } catch (const cv::Exception&) {
    return damagedModelFile(files.recognition);
  }
  return std::make_unique<OCREngine>(TextDetector(std::move(*detection)),
                                     TextLineReader(std::move(*recognition), std::move(decoder)));
}

// Loaded on first use and kept for the life of the process, a failure too.
Result<OCREngine*> sharedEngine() {
  static Result<std::unique_ptr<OCREngine>> engine = loadEngine();
  if (!engine) return engine.failure();
  return engine.value().get();
}

}  // namespace

Result<std::vector<TextObservation>> recognizeObservations(const Bitmap& image) {
  Result<OCREngine*> engine = sharedEngine();
  if (!engine) return engine.failure();
  try {
    return engine.value()->recognize(image.pixels().bgr);
  } catch (const cv::Exception& error) {
    return PlatformError{std::string("Text recognition failed: ") + error.err};
  } catch (const std::bad_alloc&) {
    return PlatformError{"Text recognition failed: out of memory."};
  }
}

}  // namespace brindlewox
