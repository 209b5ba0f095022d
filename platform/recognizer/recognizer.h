// Platform-internal: the recogniser, the PP-OCRv4 networks and what joins
// them, as public stages that tests and benchmarks call one by one:
//   findLines (line_finder.h)       the detector finds the lines of a bitmap;
//   chooseLines (line_boxes.h)      the lines worth reading;
//   uprightTurn (upright_turn.h)    how the page must turn to stand upright;
//   PageReading (page_reading.h)    the lines read on several threads;
//   levelledObservations (line_boxes.h)  what is reported for each line.
// A Recognizer owns the networks (the detector, one recognition network per
// reader, the line classifier) and OpenCC's tables, and runs the stages in
// that order. It is used by one thread at a time.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "document/result.h"
#include "platform/recognizer/chinese_script.h"
#include "platform/recognizer/line_orientation.h"
#include "platform/recognizer/page_orientation.h"
#include "platform/recognizer/page_reading.h"
#include "platform/recognizer/text_detector.h"
#include "platform/recognizer/text_line_reader.h"
#include "platform/recognizer/text_observation.h"
#include "platform/recognizer/upright_turn.h"

namespace brindlewox {

class Recognizer {
 public:
  // Reads the networks and tables the build prepared, with one reader per
  // core (at most four). Fails when a file is missing or damaged, or the
  // recognition network's classes do not match its dictionary.
  static Result<std::unique_ptr<Recognizer>> load();

  Recognizer(TextDetector detector, std::vector<TextLineReader> readers,
             LineOrientation orientation, std::optional<ChineseScript> script);

  // Every stage on a BGR bitmap: one observation per line read, in the
  // detector's order. A page lying otherwise than upright is turned, found
  // and read again, so the boxes are the upright page's. Throws what OpenCV
  // throws.
  std::vector<TextObservation> recognize(const cv::Mat& bgr);

  // The lines of a page read, with no question of its orientation left.
  std::vector<TextObservation> readLines(const FoundLines& found, const std::vector<Quad>& crops,
                                         cv::Size size);

  // The parts, for benchmarks that time one stage.
  TextDetector& detector() { return detector_; }
  TextLineReader& reader(std::size_t index) { return readers_.at(index); }
  std::vector<LineReader*> readers();
  UpsideDownTest upsideDownTest();

 private:
  struct AsItStands {
    PageTurn turn;
    std::vector<TextObservation> observations;  // when the page is upright
  };
  AsItStands readIfUpright(const FoundLines& found, const std::vector<Quad>& crops, cv::Size size);
  std::vector<TextObservation> observations(const std::vector<Quad>& crops,
                                            PageReading::Lines lines, int margin,
                                            cv::Size size) const;
  int readerThreads() const;

  TextDetector detector_;
  std::vector<TextLineReader> readers_;
  LineOrientation orientation_;
  std::optional<ChineseScript> script_;  // absent without OpenCC's tables: lines stay as read
};

}  // namespace brindlewox
