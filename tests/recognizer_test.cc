// Runs the real networks in this process on generated images.
#include <gtest/gtest.h>

#include <algorithm>

#include <opencv2/dnn.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "pipeline/text_recognition.h"
#include "platform/image/bitmap_pixels.h"
#include "platform/image/image_decoder.h"
#include "platform/recognizer/detection_scale.h"
#include "platform/recognizer/line_finder.h"
#include "platform/recognizer/model_files.h"
#include "platform/recognizer/network_layers.h"
#include "platform/recognizer/recognizer.h"
#include "platform/recognizer/text_detector.h"
#include "platform/recognizer/text_line_reader.h"
#include "platform/recognizer/text_recognizer.h"

namespace brindlewox {
namespace {

const std::string kTestData = BRINDLEWOX_TESTDATA;

// OpenCV 4.6 fuses a transposed convolution with the layers after it and
// then yields an all-zero map once the input size changes; the adapted graph
// must give a real map at every size within one process.
TEST(TextDetector, GivesRealMapsForDifferentSizesInOneProcess) {
  const Result<ModelPaths> paths = locateModels();
  ASSERT_TRUE(paths.ok()) << localizedDescription(paths.failure());
  TextDetector detector(readNetwork(paths.value().detection));
  const cv::Mat page = cv::imread(kTestData + "/english.png", cv::IMREAD_COLOR);
  ASSERT_FALSE(page.empty());
  cv::Mat larger;
  cv::resize(page, larger, cv::Size(), 1.7, 1.3);
  for (const cv::Mat& image : {page, larger, page}) {
    const cv::Mat map =
        detector.probabilityMap(image, naturalDetectionScale(image.cols, image.rows));
    double low = 0;
    double high = 0;
    cv::minMaxLoc(map, &low, &high);
    const double textShare = cv::countNonZero(map > 0.3) / static_cast<double>(map.total());
    EXPECT_GT(high, 0.9) << image.size();
    EXPECT_GT(textShare, 0.02) << image.size();
    EXPECT_LT(textShare, 0.5) << image.size();
  }
}

// The detection network takes RGB planes, each normalised with its own mean
// and deviation: a swapped channel or a wrong constant would still give a
// map, only a worse one.
TEST(TextDetector, InputIsTheNormalisedRGBPlanesOfTheImage) {
  cv::Mat bgr(32, 64, CV_8UC3);  // sides the network takes as they are
  cv::randu(bgr, 0, 256);
  const cv::Mat blob = TextDetector::networkInput(bgr, 1.0);
  ASSERT_EQ(blob.dims, 4);
  ASSERT_EQ(blob.size[1], 3);
  ASSERT_EQ(blob.size[2], bgr.rows);
  ASSERT_EQ(blob.size[3], bgr.cols);
  const double mean[] = {0.485, 0.456, 0.406};
  const double deviation[] = {0.229, 0.224, 0.225};
  for (int channel = 0; channel < 3; ++channel) {
    for (int y = 0; y < bgr.rows; ++y) {
      for (int x = 0; x < bgr.cols; ++x) {
        const double value = bgr.at<cv::Vec3b>(y, x)[2 - channel];
        const int at[] = {0, channel, y, x};
        ASSERT_NEAR(blob.at<float>(at), (value / 255.0 - mean[channel]) / deviation[channel], 1e-5)
            << "channel " << channel << " at " << x << "," << y;
      }
    }
  }
}

// The margin is laid only where ink reaches the edge band, in the image's
// own background colour; a page with white margins is detected as it is.
TEST(LineFinder, LaysAMarginOfTheBackgroundOnlyWhereInkReachesAnEdge) {
  const cv::Mat page = cv::imread(kTestData + "/english.png", cv::IMREAD_COLOR);
  ASSERT_FALSE(page.empty());
  const cv::Scalar white = borderColour(page);
  EXPECT_EQ(white, cv::Scalar(255, 255, 255, 0));
  EXPECT_FALSE(inkNearEdge(page, 16, white));

  const cv::Mat line = cv::imread(kTestData + "/line_dark.png", cv::IMREAD_COLOR);
  ASSERT_FALSE(line.empty());
  const cv::Scalar dark = borderColour(line);
  EXPECT_NEAR(dark[0], 90, 8);
  EXPECT_NEAR(dark[1], 60, 8);
  EXPECT_NEAR(dark[2], 40, 8);
  EXPECT_TRUE(inkNearEdge(line, 4, dark));

  // A page whose only ink near the edge is one dark mark in a corner.
  cv::Mat marked = page.clone();
  cv::rectangle(marked, cv::Rect(marked.cols - 6, 2, 3, 3), cv::Scalar::all(0), cv::FILLED);
  EXPECT_TRUE(inkNearEdge(marked, 16, white));
}

TEST(DetectionScale, ShrinksLargeBitmapsToTheLimitAndNeverEnlarges) {
  EXPECT_DOUBLE_EQ(naturalDetectionScale(2560, 1000), 0.5);
  EXPECT_DOUBLE_EQ(naturalDetectionScale(1000, 2560), 0.5);
  EXPECT_DOUBLE_EQ(naturalDetectionScale(514, 43), 1.0);
  // The margin is measured in the network's input: a shrunk page needs more bitmap pixels.
  EXPECT_EQ(detectionMargin(1.0, 32), 32);
  EXPECT_EQ(detectionMargin(0.5, 32), 64);
}

// The ink of each text band of a dark-on-white image, top to bottom, in pixels.
std::vector<cv::Rect> inkBandsOf(const cv::Mat& bgr) {
  cv::Mat gray;
  cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);
  const cv::Mat ink = gray < 128;
  std::vector<cv::Rect> bands;
  int top = -1;
  for (int y = 0; y <= ink.rows; ++y) {
    const bool inked = y < ink.rows && cv::countNonZero(ink.row(y)) > 0;
    if (inked && top < 0) top = y;
    if (!inked && top >= 0) {
      cv::Rect bounds = cv::boundingRect(ink.rowRange(top, y));
      bounds.y += top;
      bands.push_back(bounds);
      top = -1;
    }
  }
  return bands;
}

// Boxes are the bounds of the text itself, not the detector's box (which here
// falls short of the Q by 4 pixels): the reading order compares their edges.
// Within 3 pixels, for the anti-aliased rim the threshold may or may not take.
TEST(TextRecognizer, ReadsTheReferenceImageIntoLinesBoundByTheirInk) {
  const Result<Bitmap> image = imageFromFile(kTestData + "/english.png");
  ASSERT_TRUE(image.ok());
  const Result<std::vector<TextObservation>> observations = recognizeObservations(image.value());
  ASSERT_TRUE(observations.ok()) << localizedDescription(observations.failure());
  const cv::Mat& bgr = image.value().pixels().bgr;
  const std::vector<cv::Rect> bands = inkBandsOf(bgr);
  ASSERT_EQ(bands.size(), 2U);
  const char* texts[] = {"Quarterly report for the board", "Revenue grew by twelve percent"};
  ASSERT_EQ(observations.value().size(), 2U);
  // Listed in the detector's order: the reading order is the pipeline's.
  std::vector<TextObservation> topDown = observations.value();
  std::sort(topDown.begin(), topDown.end(), [](const TextObservation& a, const TextObservation& b) {
    return a.box.maxY() > b.box.maxY();
  });
  for (std::size_t i = 0; i < 2; ++i) {
    const TextObservation& found = topDown[i];
    ASSERT_TRUE(found.best);
    EXPECT_EQ(found.best->string, texts[i]);
    const double width = bgr.cols;
    const double height = bgr.rows;
    const cv::Rect& ink = bands[i];
    EXPECT_NEAR(found.box.x * width, ink.x, 3.0) << texts[i];
    EXPECT_NEAR((found.box.x + found.box.width) * width, ink.x + ink.width, 3.0) << texts[i];
    EXPECT_NEAR((1.0 - found.box.maxY()) * height, ink.y, 3.0) << texts[i];
    EXPECT_NEAR((1.0 - found.box.y) * height, ink.y + ink.height, 3.0) << texts[i];
    EXPECT_GT(found.best->confidence, 0.9F);
  }
}

TEST(TextRecognizer, ReadsSimplifiedAndTraditionalChinese) {
  for (const auto& [file, text] :
       {std::pair{"simplified.png", "今天天气很好\n\n我们去公园散步"},
        std::pair{"traditional.png", "這是繁體中文測試\n\n經濟發展與環境保護"}}) {
    const Result<Bitmap> image = imageFromFile(kTestData + "/" + file);
    ASSERT_TRUE(image.ok()) << file;
    const Result<RecognizedText> recognized = recognizeText(image.value());
    ASSERT_TRUE(recognized.ok()) << file;
    EXPECT_EQ(recognized.value().text, text) << file;
  }
}

std::string withoutTrailingSpace(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Lines read several to a forward, each padded to the widest with its own
// background, must read as they do alone: the padding must not drift into
// the line's own frames, nor a line get another's.
TEST(TextLineReader, ReadsALineInABatchAsItReadsItAlone) {
  const Result<std::unique_ptr<Recognizer>> recognizer = Recognizer::load();
  ASSERT_TRUE(recognizer.ok()) << localizedDescription(recognizer.failure());
  TextLineReader& reader = recognizer.value()->reader(0);
  // Widths within the reading stage's bound; the first batch mixes texts, so
  // that a line given another line's frames would show.
  const std::vector<std::vector<std::string>> batches = {
      {"line_en_24", "line_zh_64", "line_en_32", "line_en_44", "line_en_64"},
      {"line_zh_24", "line_zh_32", "line_zh_44", "line_zh_64"}};
  for (const std::vector<std::string>& batch : batches) {
    const std::string& script = batch.front();
    std::vector<cv::Mat> lines;
    std::vector<int> widths;
    for (const std::string& name : batch) {
      const std::string file = kTestData + "/" + name + ".png";
      lines.push_back(cv::imread(file, cv::IMREAD_COLOR));
      ASSERT_FALSE(lines.back().empty()) << file;
      widths.push_back(TextLineReader::networkWidth(lines.back().size()));
    }
    const auto [narrowest, widest] = std::minmax_element(widths.begin(), widths.end());
    EXPECT_LT(*narrowest, *widest) << script;
    EXPECT_LE(*widest, 1.15 * *narrowest) << script;
    const std::vector<DecodedLine> together = reader.readAll(lines);
    ASSERT_EQ(together.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const DecodedLine alone = reader.read(lines[i]);
      EXPECT_FALSE(alone.text.empty()) << script << " " << i;
      // The page's text keeps no space at a line's end, which the padding may add.
      EXPECT_EQ(withoutTrailingSpace(together[i].text), withoutTrailingSpace(alone.text))
          << script << " " << i;
      EXPECT_NEAR(together[i].confidence, alone.confidence, 0.02) << script << " " << i;
    }
    // In another order, the batch's widest line elsewhere: the same again.
    const std::vector<cv::Mat> reversed(lines.rbegin(), lines.rend());
    const std::vector<DecodedLine> backwards = reader.readAll(reversed);
    ASSERT_EQ(backwards.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(backwards[lines.size() - 1 - i].text, together[i].text);
      EXPECT_FLOAT_EQ(backwards[lines.size() - 1 - i].confidence, together[i].confidence);
    }
  }
}

}  // namespace
}  // namespace brindlewox
