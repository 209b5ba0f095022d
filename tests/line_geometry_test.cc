// Where a line's ink lies, and the page's skew, from synthetic crops.
#include <gtest/gtest.h>

#include <cmath>

#include <opencv2/imgproc.hpp>

#include "platform/recognizer/line_geometry.h"

namespace brindlewox {
namespace {

TEST(LineGeometry, InkBoundsKeepToTheLineAndIgnoreANeighboursDescenders) {
  cv::Mat crop(40, 200, CV_8UC3, cv::Scalar::all(250));
  cv::rectangle(crop, cv::Rect(20, 12, 150, 18), cv::Scalar::all(20), cv::FILLED);  // the line
  cv::rectangle(crop, cv::Rect(5, 0, 30, 3), cv::Scalar::all(20),
                cv::FILLED);  // a descender from above
  const std::optional<cv::Rect> ink = inkBounds(crop);
  ASSERT_TRUE(ink);
  EXPECT_EQ(*ink, cv::Rect(20, 12, 150, 18));

  // Light print on a dark band: the ink is the smaller class.
  cv::Mat inverted;
  cv::bitwise_not(crop, inverted);
  EXPECT_EQ(inkBounds(inverted), std::optional<cv::Rect>(cv::Rect(20, 12, 150, 18)));

  // Paper with faint noise has no clear ink.
  cv::Mat blank(40, 200, CV_8UC3, cv::Scalar::all(240));
  cv::randu(blank, cv::Scalar::all(230), cv::Scalar::all(250));
  EXPECT_FALSE(inkBounds(blank));
}

TEST(LineGeometry, CropRectanglesMapBackOntoTheImage) {
  // A box 100 x 20 at (10, 50), turned: the crop's rectangle lands on the
  // same fraction of each side.
  const Quad box = {cv::Point2f(10, 50), cv::Point2f(110, 40), cv::Point2f(112, 60),
                    cv::Point2f(12, 70)};
  const Quad mapped = quadOfCropRect(box, cv::Size(100, 20), cv::Rect2d(0, 0, 50, 20));
  EXPECT_NEAR(mapped[0].x, 10, 1e-4);
  EXPECT_NEAR(mapped[1].x, 60, 1e-4);
  EXPECT_NEAR(mapped[1].y, 45, 1e-4);
  EXPECT_NEAR(mapped[3].y, 70, 1e-4);
  // A rectangle reaching beyond the crop reaches beyond the box.
  const Quad beyond = quadOfCropRect(box, cv::Size(100, 20), cv::Rect2d(-10, 0, 10, 20));
  EXPECT_NEAR(beyond[0].x, 0, 1e-4);
}

TEST(LineGeometry, TheDominantAngleComesFromLongLinesAndLevelsThem) {
  const double angle = 2.0 * CV_PI / 180.0;
  // Long lines climbing at 2 degrees, and a short tall box that says nothing.
  std::vector<Quad> lines;
  for (int i = 0; i < 5; ++i) {
    const cv::Point2f start(100, 200.0F + 40.0F * static_cast<float>(i));
    const cv::Point2f along(static_cast<float>(500 * std::cos(angle)),
                            static_cast<float>(-500 * std::sin(angle)));
    const cv::Point2f across(static_cast<float>(20 * std::sin(angle)),
                             static_cast<float>(20 * std::cos(angle)));
    lines.push_back({start, start + along, start + along + across, start + across});
  }
  lines.push_back({cv::Point2f(0, 0), cv::Point2f(10, 5), cv::Point2f(10, 40), cv::Point2f(0, 40)});
  EXPECT_NEAR(dominantTextAngle(lines), angle, 1e-4);
  const Quad level = levelled(lines[0], dominantTextAngle(lines), cv::Point2f(300, 300));
  EXPECT_NEAR(level[0].y, level[1].y, 1e-2);

  // Beyond a scanner's skew, or with no long line, nothing is levelled.
  EXPECT_EQ(dominantTextAngle({lines.back()}), 0.0);
  const Quad steep = {cv::Point2f(0, 100), cv::Point2f(400, 0), cv::Point2f(405, 20),
                      cv::Point2f(5, 120)};
  EXPECT_EQ(dominantTextAngle({steep}), 0.0);
}

}  // namespace
}  // namespace brindlewox
