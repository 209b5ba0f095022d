#include "platform/text_recognizer.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <fstream>
#include <future>
#include <thread>
#include <memory>
#include <mutex>
#include <numeric>
#include <new>
#include <optional>
#include <system_error>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/bitmap_pixels.h"
#include "platform/recognizer/chinese_script.h"
#include "platform/recognizer/model_files.h"
#include "platform/recognizer/line_finder.h"
#include "platform/recognizer/line_geometry.h"
#include "platform/recognizer/thread_count.h"
#include "platform/recognizer/line_orientation.h"
#include "platform/recognizer/page_orientation.h"
#include "platform/recognizer/text_detector.h"
#include "platform/recognizer/text_line_reader.h"
#include "platform/recognizer/network_layers.h"

namespace brindlewox {

namespace {

constexpr double kMinimumTextHeight = 0.006;

// A box in image pixels, y down.
struct PixelBox {
  double left = 0;
  double top = 0;
  double right = 0;
  double bottom = 0;
};

// The bounds of a box found on the bitmap laid on a margin, in the bitmap's
// own pixels: moved back by the margin and clipped to the bitmap.
PixelBox boundsInBitmap(const Quad& corners, int margin, cv::Size size) {
  PixelBox box{corners[0].x, corners[0].y, corners[0].x, corners[0].y};
  for (const cv::Point2f& p : corners) {
    box.left = std::min<double>(box.left, p.x);
    box.right = std::max<double>(box.right, p.x);
    box.top = std::min<double>(box.top, p.y);
    box.bottom = std::max<double>(box.bottom, p.y);
  }
  const auto width = static_cast<double>(size.width);
  const auto height = static_cast<double>(size.height);
  return {std::clamp(box.left - margin, 0.0, width), std::clamp(box.top - margin, 0.0, height),
          std::clamp(box.right - margin, 0.0, width), std::clamp(box.bottom - margin, 0.0, height)};
}

// Pixel bounds normalised to the unit square, origin at the lower left.
NormalizedBox normalized(const PixelBox& box, cv::Size size) {
  const auto width = static_cast<double>(size.width);
  const auto height = static_cast<double>(size.height);
  return {box.left / width, 1.0 - box.bottom / height, (box.right - box.left) / width, (box.bottom - box.top) / height};
}

// The observations as the reading order needs them, in the detector's
// order: each line's ink bounds, turned level with the page's text when the
// page was scanned a little askew, moved back from the margin and clipped
// to the bitmap.
std::vector<TextObservation> levelledObservations(const std::vector<Quad>& crops, const std::vector<Quad>& text,
                                                  std::vector<TextCandidate> read, int margin, cv::Size size) {
  const double angle = dominantTextAngle(crops);
  const cv::Point2f centre(static_cast<float>(size.width) / 2 + static_cast<float>(margin),
                           static_cast<float>(size.height) / 2 + static_cast<float>(margin));
  std::vector<TextObservation> observations;
  observations.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const PixelBox box = boundsInBitmap(levelled(text[i], angle, centre), margin, size);
    observations.push_back({normalized(box, size), std::move(read[i]), TextLineReader::isVertical(crops[i])});
  }
  return observations;
}

// A vertical line on an upright page: a column of CJK text, which the
// network reads turned a quarter to the left, or a label or table header
// running up the page, which reads turned the other way. The better reading wins.
DecodedLine readEitherWay(TextLineReader& reader, const cv::Mat& turnedLeft) {
  DecodedLine left = reader.read(turnedLeft);
  cv::Mat turnedRight;
  cv::rotate(turnedLeft, turnedRight, cv::ROTATE_180);
  DecodedLine right = reader.read(turnedRight);
  return right.confidence > left.confidence ? right : left;
}

// The lines of one page read by several readers at once. Each reader takes
// the next unread line until none is left, and a line's text lands by its
// index, so the output does not depend on the timing. Lines are taken
// longest first: the readers then finish together, and a reader meets the
// same input width in a row, for which the network is not set up again. The
// helpers (every reader but the first) start at once; the calling thread
// joins in with the first reader when finish() is called. A reading that is not finished is
// abandoned: the helpers stop after their current line, and the destructor
// waits for them, so none outlives the page it reads.
class PageReading {
 public:
  PageReading(const FoundLines& found, const std::vector<Quad>& crops, std::vector<TextLineReader>& readers)
      : found_(found), crops_(crops), readers_(readers), order_(longestFirst(crops)), read_(crops.size()),
        text_(crops.size()) {
    for (std::size_t reader = 1; reader < readers_.size() && reader < crops_.size(); ++reader) {
      helpers_.push_back(std::async(std::launch::async, [this, reader] { readShare(reader); }));
    }
  }
  PageReading(const PageReading&) = delete;
  PageReading& operator=(const PageReading&) = delete;
  ~PageReading() { stop_ = true; }  // the helpers' futures wait for them

  struct Lines {
    std::vector<TextCandidate> read;
    std::vector<Quad> text;  // each line's ink, where the text is
  };

  // Reads the remaining lines with the first reader too and waits for the
  // helpers; a failure on any thread is rethrown here, after all have ended.
  Lines finish() {
    std::exception_ptr failure;
    try {
      readShare(0);
    } catch (...) {
      failure = std::current_exception();
      stop_ = true;
    }
    for (std::future<void>& helper : helpers_) {
      try {
        helper.get();
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    if (failure) std::rethrow_exception(failure);
    return {std::move(read_), std::move(text_)};
  }

 private:
  // Line indices by the width the reader gives each line, widest first.
  static std::vector<std::size_t> longestFirst(const std::vector<Quad>& crops) {
    std::vector<double> aspect;
    for (const Quad& corners : crops) {
      const cv::Size size = TextLineReader::straightenedSize(corners);
      aspect.push_back(static_cast<double>(size.width) / size.height);
    }
    std::vector<std::size_t> order(crops.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return aspect[a] > aspect[b]; });
    return order;
  }

  void readShare(std::size_t reader) {
    while (!stop_) {
      const std::size_t taken = next_++;
      if (taken >= order_.size()) return;
      const std::size_t i = order_[taken];
      const cv::Mat crop = TextLineReader::uprightCrop(found_.image, crops_[i]);
      const bool vertical = TextLineReader::isVertical(crops_[i]);
      text_[i] = vertical ? crops_[i] : lineInk(found_.image, crops_[i], crop);
      DecodedLine line = vertical ? readEitherWay(readers_[reader], crop) : readers_[reader].read(crop);
      read_[i] = TextCandidate{std::move(line.text), line.confidence};
    }
  }

  const FoundLines& found_;
  const std::vector<Quad>& crops_;
  std::vector<TextLineReader>& readers_;
  const std::vector<std::size_t> order_;
  std::vector<TextCandidate> read_;
  std::vector<Quad> text_;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> stop_{false};
  std::vector<std::future<void>> helpers_;  // last: waited for before the rest goes
};

// Detection, the page turned upright when it lies otherwise, then the lines
// read by several readers at once. OpenCV's own threads barely speed up the
// recognition network, so each reader (with its own copy of the network)
// works on a thread of its own (PageReading). The other readers start while
// the first thread checks the page's orientation, which on almost every page
// finds it upright.
class OCREngine {
 public:
  OCREngine(TextDetector detector, std::vector<TextLineReader> readers, LineOrientation orientation,
            std::optional<ChineseScript> script)
      : detector_(std::move(detector)),
        readers_(std::move(readers)),
        orientation_(std::move(orientation)),
        script_(std::move(script)) {}

  std::vector<TextObservation> recognize(const cv::Mat& bgr) {
    const FoundLines found = findLines(detector_, bgr);
    const std::vector<Quad> crops = linesToRead(found, bgr.size());
    AsItStands read = readIfUpright(found, crops, bgr.size());
    if (read.turn == PageTurn::none) return std::move(read.observations);
    // The page is read as if it had been upright: found again, turned, so
    // the boxes and the reading order are the upright page's.
    cv::Mat turned;
    cv::rotate(bgr, turned, rotationOf(read.turn));
    const FoundLines foundTurned = findLines(detector_, turned);
    return readLines(foundTurned, linesToRead(foundTurned, turned.size()), turned.size());
  }

 private:
  static cv::RotateFlags rotationOf(PageTurn turn) {
    switch (turn) {
      case PageTurn::clockwise:
        return cv::ROTATE_90_CLOCKWISE;
      case PageTurn::counterClockwise:
        return cv::ROTATE_90_COUNTERCLOCKWISE;
      default:
        return cv::ROTATE_180;
    }
  }

  static std::vector<Quad> linesToRead(const FoundLines& found, cv::Size size) {
    std::vector<Quad> crops;
    for (const DetectedLine& line : found.lines) {
      // A box wholly in the margin has no width or height left.
      const NormalizedBox box = normalized(boundsInBitmap(line.crop, found.margin, size), size);
      if (box.width <= 0 || box.height < kMinimumTextHeight) continue;
      crops.push_back(line.crop);
    }
    return crops;
  }

  // How the page must be turned to stand upright. The classifier is asked
  // on every page with lines running across; the lines are read both ways
  // only when it, or the lines' shapes, point away from upright.
  PageTurn uprightTurn(const cv::Mat& image, const std::vector<Quad>& crops) {
    std::vector<LineShape> shapes;
    for (const Quad& corners : crops) {
      const cv::Size size = TextLineReader::straightenedSize(corners);
      shapes.push_back({static_cast<double>(size.width), static_cast<double>(size.height)});
    }
    const bool sideways = mostlySideways(shapes);
    std::vector<cv::Mat> sample;
    for (const std::size_t i : sampleLines(shapes, sideways, kOrientationSample)) {
      sample.push_back(TextLineReader::uprightCrop(image, crops[i]));
    }
    if (sample.empty()) return PageTurn::none;
    if (!sideways) {
      std::vector<float> upsideDown;
      for (const cv::Mat& crop : sample) upsideDown.push_back(orientation_.upsideDown(crop));
      if (!classifierSaysUpsideDown(upsideDown)) return PageTurn::none;
    }
    if (sample.size() > kReadingSample) sample.resize(kReadingSample);
    const auto asCut = [](const cv::Mat& crop) { return crop; };
    const auto halfTurned = [](const cv::Mat& crop) { return turned(crop, cv::ROTATE_180); };
    const SampleReading reading{meanConfidence(sample, asCut), meanConfidence(sample, halfTurned)};
    const PageTurn turn = turnFromReadings(reading, sideways);
    // Columns of vertical CJK text read well turned to the left too, but
    // their characters stand upright on the page: such a page stays as it is.
    if (turn == PageTurn::counterClockwise) {
      const double cells = meanConfidence(
          sample, [](const cv::Mat& crop) { return cellsSideBySide(turned(crop, cv::ROTATE_90_CLOCKWISE)); });
      if (uprightCharacters(cells)) return PageTurn::none;
    }
    return turn;
  }

  static cv::Mat turned(const cv::Mat& image, cv::RotateFlags rotation) {
    cv::Mat result;
    cv::rotate(image, result, rotation);
    return result;
  }

  // The sample read as `shown` shows each crop: the mean confidence, each
  // line weighted by its length.
  template <typename Shown>
  double meanConfidence(const std::vector<cv::Mat>& sample, Shown shown) {
    double sum = 0;
    double weights = 0;
    for (const cv::Mat& crop : sample) {
      const auto weight = static_cast<double>(crop.cols);
      sum += weight * readers_.front().read(shown(crop)).confidence;
      weights += weight;
    }
    return weights > 0 ? sum / weights : 0;
  }

  // One OpenCV thread per reader: its own pool would only contend with them.
  int readerThreads() const { return readers_.size() > 1 ? 1 : cv::getNumThreads(); }

  struct AsItStands {
    PageTurn turn;
    std::vector<TextObservation> observations;  // when the page is upright
  };

  // The page's lines read as they stand while the first thread checks that
  // the page is upright; the reading is abandoned when it is not.
  AsItStands readIfUpright(const FoundLines& found, const std::vector<Quad>& crops, cv::Size size) {
    const ThreadCount single(readerThreads());
    PageReading reading(found, crops, readers_);
    const PageTurn turn = uprightTurn(found.image, crops);
    if (turn != PageTurn::none) return {turn, {}};
    return {turn, observations(found, crops, reading.finish(), size)};
  }

  // The page's lines read, with no question of its orientation left.
  std::vector<TextObservation> readLines(const FoundLines& found, const std::vector<Quad>& crops, cv::Size size) {
    const ThreadCount single(readerThreads());
    PageReading reading(found, crops, readers_);
    return observations(found, crops, reading.finish(), size);
  }

  std::vector<TextObservation> observations(const FoundLines& found, const std::vector<Quad>& crops,
                                            PageReading::Lines lines, cv::Size size) const {
    if (script_) {
      for (TextCandidate& candidate : lines.read) candidate.string = script_->consistent(candidate.string);
    }
    return levelledObservations(crops, lines.text, std::move(lines.read), found.margin, size);
  }

  // The longest lines the classifier looks at, and the fewer read both ways.
  static constexpr std::size_t kOrientationSample = 8;
  static constexpr std::size_t kReadingSample = 5;

  TextDetector detector_;
  std::vector<TextLineReader> readers_;
  LineOrientation orientation_;
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
  std::optional<cv::dnn::Net> orientation = loadNetwork(files.orientation);
  if (!orientation) return damagedModelFile(files.orientation);
  std::vector<cv::dnn::Net> recognition;
  for (std::size_t i = 0; i < readerCount(); ++i) {
    std::optional<cv::dnn::Net> network = loadNetwork(files.recognition);
    if (!network) return damagedModelFile(files.recognition);
    recognition.push_back(std::move(*network));
  }

  std::optional<ChineseScript> script = ChineseScript::load();
  // The recogniser's class count must match the dictionary it decodes with.
  CTCDecoder decoder(*dictionary);
  if (script) decoder.restoreUnknownTraditional(script->unknownTraditionalForms(*dictionary));
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
  return std::make_unique<OCREngine>(TextDetector(std::move(*detection)), std::move(readers),
                                     LineOrientation(std::move(*orientation)), std::move(script));
}

// The engine of the process, loaded once on a thread of its own and kept
// for the life of the process, a failure too.
class EngineSlot {
 public:
  void startLoading() {
    std::call_once(started_, [this] {
      try {
        loading_ = std::async(std::launch::async, loadEngine);
      } catch (const std::system_error&) {
        // No thread to spare: the first recognition loads the engine itself.
        loading_ = std::async(std::launch::deferred, loadEngine);
      }
    });
  }

  Result<OCREngine*> engine() {
    startLoading();
    std::call_once(finished_, [this] {
      try {
        engine_.emplace(loading_.get());
      } catch (const std::bad_alloc&) {
        engine_.emplace(PlatformError{"Text recognition failed: out of memory."});
      } catch (const std::exception& error) {  // any other failure while loading
        engine_.emplace(PlatformError{std::string("Text recognition failed: ") + error.what()});
      }
    });
    if (!*engine_) return engine_->failure();
    return engine_->value().get();
  }

 private:
  std::once_flag started_;
  std::once_flag finished_;
  std::future<Result<std::unique_ptr<OCREngine>>> loading_;
  std::optional<Result<std::unique_ptr<OCREngine>>> engine_;
};

EngineSlot& engineSlot() {
  static EngineSlot slot;
  return slot;
}

}  // namespace

RecognizerLoad::RecognizerLoad() { engineSlot().startLoading(); }

RecognizerLoad::~RecognizerLoad() { static_cast<void>(engineSlot().engine()); }

Result<std::vector<TextObservation>> recognizeObservations(const Bitmap& image) {
  Result<OCREngine*> engine = engineSlot().engine();
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
