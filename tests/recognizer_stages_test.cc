// The recogniser's stages with fake readers and a fake line classifier: the
// threaded reading of a page and the upright-turn decision, without networks.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "platform/recognizer/page_reading.h"
#include "platform/recognizer/text_line_reader.h"
#include "platform/recognizer/upright_turn.h"

namespace brindlewox {
namespace {

Quad box(float left, float top, float width, float height) {
  return {cv::Point2f(left, top), cv::Point2f(left + width, top),
          cv::Point2f(left + width, top + height), cv::Point2f(left, top + height)};
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
  for (int i = 0; i < 40; ++i)
    crops.push_back(box(10, 10.0F + 20 * i, 60.0F + 11 * ((i * 7) % 40), 16));
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

// Positions 0..n-1 of widthBatches' runs, in order, each exactly once.
void expectRunsCoverInOrder(const std::vector<std::pair<std::size_t, std::size_t>>& runs,
                            std::size_t count) {
  std::size_t next = 0;
  for (const auto& [first, end] : runs) {
    EXPECT_EQ(first, next);
    EXPECT_LT(first, end);
    next = end;
  }
  EXPECT_EQ(next, count);
}

TEST(WidthBatches, PadNoLineBeyondTheLimitAndKeepTheBatchesBounded) {
  const std::vector<int> widths = {1000, 900, 880, 860, 800, 400, 400, 400, 400,
                                   400,  400, 400, 400, 400, 400, 396, 64};
  std::vector<bool> alone(widths.size(), false);
  const BatchLimits limits{0.15, 8, 4096};
  const auto runs = widthBatches(widths, alone, limits);
  expectRunsCoverInOrder(runs, widths.size());
  for (const auto& [first, end] : runs) {
    const int widest = widths[first];
    EXPECT_LE(end - first, limits.lines);
    EXPECT_LE(widest * static_cast<int>(end - first), limits.columns);
    for (std::size_t k = first; k < end; ++k) EXPECT_LE(widest, 1.15 * widths[k]) << k;
  }
  // Greedy from the widest: 1000 takes 900 and 880 (860 would be padded by
  // 16%); 860 and 800 go together; ten lines of about 400 fill a batch of
  // eight and one of three; the narrowest is alone.
  const std::vector<std::pair<std::size_t, std::size_t>> expected = {
      {0, 3}, {3, 5}, {5, 13}, {13, 16}, {16, 17}};
  EXPECT_EQ(runs, expected);

  // The column bound: four lines of 1100 columns make one batch of three.
  const auto wide = widthBatches({1100, 1100, 1100, 1100}, std::vector<bool>(4, false), limits);
  EXPECT_EQ(wide, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 3}, {3, 4}}));
}

TEST(WidthBatches, ALineMarkedAloneBreaksTheRunAndIsReadOnItsOwn) {
  const std::vector<int> widths = {400, 400, 400, 400, 400};
  const BatchLimits limits{0.15, 8, 4096};
  const auto runs = widthBatches(widths, {false, false, true, false, false}, limits);
  EXPECT_EQ(runs, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 2}, {2, 3}, {3, 5}}));
  EXPECT_TRUE(widthBatches({}, {}, limits).empty());
  // One line to a batch: every line on its own.
  EXPECT_EQ(
      widthBatches(widths, std::vector<bool>(widths.size(), false), BatchLimits{0.15, 1, 4096})
          .size(),
      widths.size());
}

// Reads a batch as its lines' widths and remembers the batches it was given.
class BatchReader : public LineReader {
 public:
  DecodedLine read(const cv::Mat& lineImage) override { return readAll({lineImage}).front(); }
  std::vector<DecodedLine> readAll(const std::vector<cv::Mat>& lineImages) override {
    std::vector<DecodedLine> lines;
    std::vector<int> widths;
    for (const cv::Mat& image : lineImages) {
      lines.push_back({"w" + std::to_string(image.cols), 0.9F});
      widths.push_back(image.cols);
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    batches_.push_back(widths);
    return lines;
  }
  std::vector<std::vector<int>> batches() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return batches_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::vector<int>> batches_;
};

TEST(PageReading, LinesOfSimilarWidthAreReadTogetherAndLandByTheirIndex) {
  FoundLines found;
  found.image = cv::Mat(1400, 900, CV_8UC3, cv::Scalar::all(255));
  std::vector<Quad> crops;
  // Twelve short lines of three widths, shuffled, and a vertical one.
  const float widths[] = {200, 120, 300};
  for (int i = 0; i < 12; ++i) {
    const auto step = static_cast<float>(i);
    crops.push_back(box(10, 10.0F + 30.0F * step, widths[i % 3] + step, 24));
  }
  crops.push_back(box(600, 10, 24, 300));
  BatchReader first, second;
  PageReading reading(found, crops, {&first, &second}, BatchLimits{0.15, 8, 4096});
  const PageReading::Lines lines = reading.finish();
  ASSERT_EQ(lines.read.size(), crops.size());
  for (std::size_t i = 0; i + 1 < crops.size(); ++i) {
    EXPECT_EQ(lines.read[i].string,
              "w" + std::to_string(TextLineReader::straightenedSize(crops[i]).width))
        << i;
  }
  std::vector<std::vector<int>> batches = first.batches();
  for (const auto& batch : second.batches()) batches.push_back(batch);
  std::size_t lineCount = 0;
  std::size_t largest = 0;
  for (const auto& batch : batches) {
    lineCount += batch.size();
    largest = std::max(largest, batch.size());
    const int widest = *std::max_element(batch.begin(), batch.end());
    for (const int width : batch) EXPECT_LE(widest, 1.15 * width) << "a batch pads a line too much";
  }
  // The vertical line is read both ways round, alone: two more reads.
  EXPECT_EQ(lineCount, crops.size() + 1);
  EXPECT_GE(largest, 4U);
  EXPECT_LE(batches.size(), 6U);
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
  EXPECT_EQ(uprightTurn(turnedPage.image(), turnedPage.crops(), upsideDown, reader),
            PageTurn::half);
  EXPECT_GT(reader.reads, 0);

  // It doubts, but the lines read better as they stand: the page stays.
  const MarkedPage uprightPage(true);
  EXPECT_EQ(uprightTurn(uprightPage.image(), uprightPage.crops(), upsideDown, reader),
            PageTurn::none);

  // No lines: nothing to decide on.
  EXPECT_EQ(uprightTurn(uprightPage.image(), {}, upsideDown, reader), PageTurn::none);
}

}  // namespace
}  // namespace brindlewox
