// Runs the real networks in this process on generated images.
#include <gtest/gtest.h>

#include <opencv2/dnn.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "pipeline/text_recognition.h"
#include "platform/image_decoder.h"
#include "platform/recognizer/model_files.h"
#include "platform/recognizer/detection_scale.h"
#include "platform/recognizer/line_finder.h"
#include "platform/recognizer/text_detector.h"
#include "platform/text_recognizer.h"
#include "platform/recognizer/network_layers.h"

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
    const cv::Mat map = detector.probabilityMap(image, naturalDetectionScale(image.cols, image.rows));
    double low = 0;
    double high = 0;
    cv::minMaxLoc(map, &low, &high);
    const double textShare = cv::countNonZero(map > 0.3) / static_cast<double>(map.total());
    EXPECT_GT(high, 0.9) << image.size();
    EXPECT_GT(textShare, 0.02) << image.size();
    EXPECT_LT(textShare, 0.5) << image.size();
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

struct ReferenceLine {
  const char* text;
  double x, y, width, height;  // normalised, origin lower left
};

TEST(TextRecognizer, ReadsTheReferenceImageIntoKnownLinesAndBoxes) {
  const Result<Bitmap> image = imageFromFile(kTestData + "/english.png");
  ASSERT_TRUE(image.ok());
  const Result<std::vector<TextObservation>> observations = recognizeObservations(image.value());
  ASSERT_TRUE(observations.ok()) << localizedDescription(observations.failure());
  const ReferenceLine expected[] = {
      {"Revenue grew by twelve percent", 0.0638, 0.5055, 0.7182, 0.0948},
      {"Quarterly report for the board", 0.0661, 0.7274, 0.6501, 0.1061},
  };
  ASSERT_EQ(observations.value().size(), 2U);
  for (const ReferenceLine& want : expected) {
    const auto found = std::find_if(observations.value().begin(), observations.value().end(),
                                    [&](const TextObservation& o) { return o.best && o.best->string == want.text; });
    ASSERT_NE(found, observations.value().end()) << want.text;
    EXPECT_NEAR(found->box.x, want.x, 0.01) << want.text;
    EXPECT_NEAR(found->box.y, want.y, 0.01) << want.text;
    EXPECT_NEAR(found->box.width, want.width, 0.01) << want.text;
    EXPECT_NEAR(found->box.height, want.height, 0.01) << want.text;
    EXPECT_GT(found->best->confidence, 0.9F);
  }
}

TEST(TextRecognizer, ReadsSimplifiedAndTraditionalChinese) {
  for (const auto& [file, text] : {std::pair{"simplified.png", "今天天气很好\n\n我们去公园散步"},
                                   std::pair{"traditional.png", "這是繁體中文測試\n\n經濟發展與環境保護"}}) {
    const Result<Bitmap> image = imageFromFile(kTestData + "/" + file);
    ASSERT_TRUE(image.ok()) << file;
    const Result<RecognizedText> recognized = recognizeText(image.value());
    ASSERT_TRUE(recognized.ok()) << file;
    EXPECT_EQ(recognized.value().text, text) << file;
  }
}

}  // namespace
}  // namespace brindlewox
