#include "platform/recognizer/recognizer.h"

#include <algorithm>
#include <string>
#include <thread>
#include <utility>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgproc.hpp>

#include "platform/recognizer/line_boxes.h"
#include "platform/recognizer/line_finder.h"
#include "platform/recognizer/model_files.h"
#include "platform/recognizer/network_layers.h"
#include "platform/recognizer/thread_count.h"
#include "platform/recognizer/upright_turn.h"

namespace brindlewox {

namespace {

cv::RotateFlags rotationOf(PageTurn turn) {
  switch (turn) {
    case PageTurn::clockwise:
      return cv::ROTATE_90_CLOCKWISE;
    case PageTurn::counterClockwise:
      return cv::ROTATE_90_COUNTERCLOCKWISE;
    default:
      return cv::ROTATE_180;
  }
}

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

}  // namespace

Result<std::unique_ptr<Recognizer>> Recognizer::load() {
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
    recognition.front().setInput(
        cv::dnn::blobFromImage(cv::Mat(48, 16, CV_32FC3, cv::Scalar::all(0))));
    const cv::Mat probe = recognition.front().forward();
    if (TextLineReader::classCount(probe) != decoder.classCount()) {
      return damagedModelFile(files.dictionary);
    }
  } catch (const cv::Exception&) {
    return damagedModelFile(files.recognition);
  }
  std::vector<TextLineReader> readers;
  for (cv::dnn::Net& network : recognition) readers.emplace_back(std::move(network), decoder);
  return std::make_unique<Recognizer>(TextDetector(std::move(*detection)), std::move(readers),
                                      LineOrientation(std::move(*orientation)), std::move(script));
}

Recognizer::Recognizer(TextDetector detector, std::vector<TextLineReader> readers,
                       LineOrientation orientation, std::optional<ChineseScript> script)
    : detector_(std::move(detector)),
      readers_(std::move(readers)),
      orientation_(std::move(orientation)),
      script_(std::move(script)) {}

std::vector<LineReader*> Recognizer::readers() {
  std::vector<LineReader*> readers;
  for (TextLineReader& reader : readers_) readers.push_back(&reader);
  return readers;
}

UpsideDownTest Recognizer::upsideDownTest() {
  return [this](const cv::Mat& lineImage) { return orientation_.upsideDown(lineImage); };
}

std::vector<TextObservation> Recognizer::recognize(const cv::Mat& bgr) {
  const FoundLines found = findLines(detector_, bgr);
  const std::vector<Quad> crops = chooseLines(found, bgr.size());
  AsItStands read = readIfUpright(found, crops, bgr.size());
  if (read.turn == PageTurn::none) return std::move(read.observations);
  // The page is read as if it had been upright: found again, turned, so
  // the boxes and the reading order are the upright page's.
  cv::Mat turned;
  cv::rotate(bgr, turned, rotationOf(read.turn));
  const FoundLines foundTurned = findLines(detector_, turned);
  return readLines(foundTurned, chooseLines(foundTurned, turned.size()), turned.size());
}

// One OpenCV thread per reader: its own pool would only contend with them.
int Recognizer::readerThreads() const {
  return readers_.size() > 1 ? 1 : cv::getNumThreads();
}

// The page's lines read as they stand while the first thread checks that
// the page is upright, which on almost every page it is; the reading is
// abandoned when it is not.
Recognizer::AsItStands Recognizer::readIfUpright(const FoundLines& found,
                                                 const std::vector<Quad>& crops, cv::Size size) {
  const ThreadCount single(readerThreads());
  PageReading reading(found, crops, readers());
  const PageTurn turn = uprightTurn(found.image, crops, upsideDownTest(), readers_.front());
  if (turn != PageTurn::none) return {turn, {}};
  return {turn, observations(crops, reading.finish(), found.margin, size)};
}

std::vector<TextObservation> Recognizer::readLines(const FoundLines& found,
                                                   const std::vector<Quad>& crops, cv::Size size) {
  const ThreadCount single(readerThreads());
  PageReading reading(found, crops, readers());
  return observations(crops, reading.finish(), found.margin, size);
}

std::vector<TextObservation> Recognizer::observations(const std::vector<Quad>& crops,
                                                      PageReading::Lines lines, int margin,
                                                      cv::Size size) const {
  if (script_) {
    for (TextCandidate& candidate : lines.read)
      candidate.string = script_->consistent(candidate.string);
  }
  return levelledObservations(crops, lines.ink, std::move(lines.read), margin, size);
}

}  // namespace brindlewox
