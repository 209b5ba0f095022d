// The recogniser's stages with fake readers and a fake line classifier: the
// threaded reading of a page and the upright-turn decision, without networks.
#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <string>

#include <opencv2/imgproc.hpp>

#include "platform/recognizer/page_reading.h"
#include "platform/recognizer/text_line_reader.h"
#include "platform/recognizer/upright_turn.h"

namespace brindlewox {
namespace {

Quad box(float left, float top, float width, float height) {
  return {cv::Point2f(left, top), cv::Point2f(left + width, top), cv::Point2f(left + width, top + height),
          cv::Point2f(left, top + height)};
}

// Reads a line as its width, and remembers which lines it read.
class WidthReader : public LineReader {
 public:
  DecodedLine read(const cv::Mat& lineImage) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    widths_.insert(lineImage.cols);
    return {"w" + std::to_string(lineImage.cols), 0.9F};
  }
  std::set<int> widths() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return widths_;
  }

 private:
  mutable std::mutex mutex_;
  std::set<int> widths_;
};

TEST(PageReading, EveryLineIsReadOnceAndLandsByItsIndexWidestFirst) {
  FoundLines found;
  found.image = cv::Mat(900, 600, CV_8UC3, cv::Scalar::all(255));
  std::vector<Quad> crops;
  for (int i = 0; i < 40; ++i) crops.push_back(box(10, 10.0F + 20 * i, 60.0F + 11 * ((i * 7) % 40), 16));
  const std::vector<std::size_t> order = widestFirst(crops);
  ASSERT_EQ(order.size(), crops.size());
  for (std::size_t k = 1; k < order.size(); ++k) {
    EXPECT_GE(crops[order[k - 1]][1].x, crops[order[k]][1].x) << k;
  }

  WidthReader first, second;
  PageReading reading(found, crops, {&first, &second});
  const PageReading::Lines lines = reading.finish();
  ASSERT_EQ(lines.read.size(), crops.size());
  for (std::size_t i = 0; i < crops.size(); ++i) {
    const int width = TextLineReader::straightenedSize(crops[i]).width;
    EXPECT_EQ(lines.read[i].string, "w" + std::to_string(width)) << i;
  }
  // Between them the readers read every width, and no line twice.
  std::set<int> all = first.widths();
  const std::set<int> fromSecond = second.widths();
  all.insert(fromSecond.begin(), fromSecond.end());
  std::set<int> expected;
  for (const Quad& crop : crops) expected.insert(TextLineReader::straightenedSize(crop).width);
  EXPECT_EQ(all, expected);
}

// A page of eight lines, each dark on its left half and light on its right
// (or the other way round): the fake reader reads a line well only with the
// dark half on the left, so it tells a crop read as cut from one turned.
class MarkedPage {
 public:
  explicit MarkedPage(bool darkOnTheLeft) : image_(600, 500, CV_8UC3, cv::Scalar::all(255)) {
    for (int i = 0; i < 8; ++i) {
      const Quad line = box(20, 20.0F + 60 * i, 200.0F + 20 * i, 30);
      const int half = static_cast<int>(line[1].x - line[0].x) / 2;
      const int x = darkOnTheLeft ? 20 : 20 + half;
      cv::rectangle(image_, cv::Rect(x, 20 + 60 * i, half, 30), cv::Scalar::all(0), cv::FILLED);
      crops_.push_back(line);
    }
  }
  const cv::Mat& image() const { return image_; }
  const std::vector<Quad>& crops() const { return crops_; }

 private:
  cv::Mat image_;
  std::vector<Quad> crops_;
};

class MarkReader : public LineReader {
 public:
  DecodedLine read(const cv::Mat& lineImage) override {
    ++reads;
    const double left = cv::mean(lineImage.colRange(0, lineImage.cols / 2))[0];
    const double right = cv::mean(lineImage.colRange(lineImage.cols / 2, lineImage.cols))[0];
    return {"", left < right ? 0.95F : 0.3F};
  }
  int reads = 0;
};

TEST(UprightTurn, TheReadingsDecideOnlyWhereTheClassifierDoubts) {
  const UpsideDownTest upright = [](const cv::Mat&) { return 0.05F; };
  const UpsideDownTest upsideDown = [](const cv::Mat&) { return 0.95F; };

  // The classifier finds the lines upright: nothing is read.
  const MarkedPage turnedPage(false);
  MarkReader reader;
  EXPECT_EQ(uprightTurn(turnedPage.image(), turnedPage.crops(), upright, reader), PageTurn::none);
  EXPECT_EQ(reader.reads, 0);

  // It doubts, and the lines read clearly better turned half a circle.
  EXPECT_EQ(uprightTurn(turnedPage.image(), turnedPage.crops(), upsideDown, reader), PageTurn::half);
  EXPECT_GT(reader.reads, 0);

  // It doubts, but the lines read better as they stand: the page stays.
  const MarkedPage uprightPage(true);
  EXPECT_EQ(uprightTurn(uprightPage.image(), uprightPage.crops(), upsideDown, reader), PageTurn::none);

  // No lines: nothing to decide on.
  EXPECT_EQ(uprightTurn(uprightPage.image(), {}, upsideDown, reader), PageTurn::none);
}

}  // namespace
}  // namespace brindlewox
