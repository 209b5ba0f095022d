#include "platform/text_recognizer.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <future>
#include <thread>
#include <memory>
#include <optional>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/bitmap_pixels.h"
#include "platform/recognizer/chinese_script.h"
#include "platform/recognizer/model_files.h"
#include "platform/recognizer/line_finder.h"
#include "platform/recognizer/text_detector.h"
#include "platform/recognizer/text_line_reader.h"
#include "platform/recognizer/network_layers.h"

namespace brindlewox {

namespace {

constexpr double kMinimumTextHeight = 0.006;

// A box found on the bitmap laid on a margin, normalised to the bitmap
// itself: moved back by the margin and clipped to the bitmap. Nothing when
// the box lies wholly in the margin.
std::optional<NormalizedBox> boundsInBitmap(Quad corners, int margin, cv::Size size) {
  const auto width = static_cast<float>(size.width);
  const auto height = static_cast<float>(size.height);
  for (cv::Point2f& p : corners) {
    p.x = std::clamp(p.x - static_cast<float>(margin), 0.0F, width);
    p.y = std::clamp(p.y - static_cast<float>(margin), 0.0F, height);
  }
  const NormalizedBox box = normalizedBounds(corners, size);
  if (box.width <= 0 || box.height <= 0) return std::nullopt;
  return box;
}

// Sets OpenCV's thread count for a scope and restores it on every way out.
class ThreadCount {
 public:
  explicit ThreadCount(int count) : previous_(cv::getNumThreads()) { cv::setNumThreads(count); }
  ThreadCount(const ThreadCount&) = delete;
  ThreadCount& operator=(const ThreadCount&) = delete;
  ~ThreadCount() { cv::setNumThreads(previous_); }

 private:
  int previous_;
};

// Detection, then the lines read by several readers at once. OpenCV's own
// threads barely speed up the recognition network, so each reader (with its
// own copy of the network) takes every n-th line on a thread of its own.
// Results land by index: the output does not depend on the timing.
class OCREngine {
 public:
  OCREngine(TextDetector detector, std::vector<TextLineReader> readers, std::optional<ChineseScript> script)
      : detector_(std::move(detector)), readers_(std::move(readers)), script_(std::move(script)) {}

  std::vector<TextObservation> recognize(const cv::Mat& bgr) {
    const FoundLines found = findLines(detector_, bgr);
    std::vector<Quad> boxes;
    std::vector<TextObservation> observations;
    for (const DetectedLine& line : found.lines) {
      const std::optional<NormalizedBox> box = boundsInBitmap(line.crop, found.margin, bgr.size());
      if (!box || box->height < kMinimumTextHeight) continue;
      boxes.push_back(line.crop);
      observations.push_back({*box, std::nullopt});
    }
    auto readShare = [&](std::size_t reader) {
      for (std::size_t i = reader; i < boxes.size(); i += readers_.size()) {
        DecodedLine line = readers_[reader].read(TextLineReader::uprightCrop(found.image, boxes[i]));
        observations[i].best = TextCandidate{std::move(line.text), line.confidence};
      }
    };
    // One OpenCV thread per reader: its own pool would only contend with them.
    const ThreadCount single(readers_.size() > 1 ? 1 : cv::getNumThreads());
    std::vector<std::future<void>> helpers;
    for (std::size_t reader = 1; reader < readers_.size() && reader < boxes.size(); ++reader) {
      helpers.push_back(std::async(std::launch::async, readShare, reader));
    }
    // Every helper is joined before a failure leaves, so none outlives the bitmap.
    std::exception_ptr failure;
    try {
      readShare(0);
    } catch (...) {
      failure = std::current_exception();
    }
    for (std::future<void>& helper : helpers) {
      try {
        helper.get();
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    if (failure) std::rethrow_exception(failure);
    if (script_) {
      for (TextObservation& observation : observations) {
        if (observation.best) observation.best->string = script_->consistent(observation.best->string);
      }
    }
    return observations;
  }

 private:
  TextDetector detector_;
  std::vector<TextLineReader> readers_;
  std::optional<ChineseScript> script_;  // absent without OpenCC's tables: lines stay as read
};

std::size_t readerCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp<std::size_t>(cores, 1, 4);
}

std::optional<cv::dnn::Net> loadNetwork(const std::string& path) {
  try {
    cv::dnn::Net net = readNetwork(path);
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
  std::vector<cv::dnn::Net> recognition;
  for (std::size_t i = 0; i < readerCount(); ++i) {
    std::optional<cv::dnn::Net> network = loadNetwork(files.recognition);
    if (!network) return damagedModelFile(files.recognition);
    recognition.push_back(std::move(*network));
  }

  // The recogniser's class count must match the dictionary it decodes with.
  CTCDecoder decoder(std::move(*dictionary));
  try {
    recognition.front().setInput(cv::dnn::blobFromImage(cv::Mat(48, 16, CV_32FC3, cv::Scalar::all(0))));
    const cv::Mat probe = recognition.front().forward();
    if (TextLineReader::classCount(probe) != decoder.classCount()) {
      return damagedModelFile(files.dictionary);
    }
  } catch (const cv::Exception&) {
    return damagedModelFile(files.recognition);
  }
  std::vector<TextLineReader> readers;
  for (cv::dnn::Net& network : recognition) readers.emplace_back(std::move(network), decoder);
  return std::make_unique<OCREngine>(TextDetector(std::move(*detection)), std::move(readers), ChineseScript::load());
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
  } catch (const std::exception& error) {  // a reader thread that could not be started
    return PlatformError{std::string("Text recognition failed: ") + error.what()};
  }
}

}  // namespace brindlewox
