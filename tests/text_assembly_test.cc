#include "pipeline/text_assembly.h"

#include <gtest/gtest.h>

namespace brindlewox {
namespace {

// A line with its top and bottom given directly.
TextObservation line(const char* text, double bottom, double top, double left = 0.1,
                     float confidence = 1.0F) {
  return {NormalizedBox{left, bottom, 0.5, top - bottom}, TextCandidate{text, confidence}};
}

TEST(AssembleText, NothingGivesEmptyTextAndZeroConfidence) {
  const RecognizedText result = assembleText({}, 1.0);
  EXPECT_EQ(result.text, "");
  EXPECT_EQ(result.confidence, 0.0);
}

TEST(AssembleText, OrdersTopToBottomAndTrimsEachLine) {
  const RecognizedText result =
      assembleText({line("  second line \t", 0.80, 0.82), line("first line", 0.84, 0.86)}, 1.0);
  EXPECT_EQ(result.text, "first line\nsecond line");
}

TEST(AssembleText, SkipsBlankCandidatesAndMeasuresTheGapFromTheLastKeptLine) {
  std::vector<TextObservation> observations = {
      line("top", 0.90, 0.92),
      line(" \n\u3000 ", 0.80, 0.82, 0.1, 0.1F),  // only white space: no line, no confidence
      {NormalizedBox{0.1, 0.70, 0.5, 0.02}, std::nullopt},  // no candidate at all
      line("bottom", 0.86, 0.88),                           // 0.02 below "top": no paragraph gap
  };
  const RecognizedText result = assembleText(observations, 1.0);
  EXPECT_EQ(result.text, "top\nbottom");
  EXPECT_DOUBLE_EQ(result.confidence, 1.0);
}

TEST(AssembleText, ParagraphGapIsStrictlyLargerThanTheThreshold) {
  // Bottom at exactly the threshold above a zero-height line at 0: the
  // computed gap equals the threshold without any rounding.
  const TextObservation upper = line("a", kParagraphGap, kParagraphGap + 0.05);
  const TextObservation atZero{NormalizedBox{0.1, 0.0, 0.5, 0.0}, TextCandidate{"b", 1}};
  EXPECT_EQ(assembleText({upper, atZero}, 1.0).text, "a\nb");
  const TextObservation justBelow{NormalizedBox{0.1, -0.02, 0.5, 0.02 - 1e-9},
                                  TextCandidate{"b", 1}};
  EXPECT_EQ(assembleText({upper, justBelow}, 1.0).text, "a\n\nb");
  const RecognizedText huge = assembleText({line("a", 0.75, 0.8), line("b", 0.0, 0.05)}, 1.0);
  EXPECT_EQ(huge.text, "a\n\nb");  // at most one empty line
}

TEST(AssembleText, ConfidenceIgnoresTheEmptySeparatorLines) {
  const RecognizedText result = assembleText(
      {line("first", 0.80, 0.85, 0.1, 0.5F), line("second", 0.20, 0.25, 0.1, 1.0F)}, 1.0);
  EXPECT_EQ(result.text, "first\n\nsecond");
  EXPECT_DOUBLE_EQ(result.confidence, 0.75);
}

TEST(AssembleText, PiecesWithoutTextDoNotJoinTheLayout) {
  // Two columns of ten lines, and a box read as blank lying across the
  // gutter: were it laid out, no white space would part the columns.
  std::vector<TextObservation> observations;
  std::string expected;
  for (const auto& [name, left] : {std::pair<std::string, double>{"left", 0.05}, {"right", 0.55}}) {
    for (int i = 0; i < 10; ++i) {
      const double top = 0.9 - i * 0.03;
      observations.push_back(
          {NormalizedBox{left, top - 0.02, 0.4, 0.02}, TextCandidate{name + std::to_string(i), 1}});
      expected += (expected.empty() ? "" : "\n") + (name + std::to_string(i));
    }
  }
  observations.push_back(line(" ", 0.5, 0.52, 0.3));
  observations.push_back({NormalizedBox{0.3, 0.6, 0.5, 0.02}, std::nullopt});
  EXPECT_EQ(assembleText(observations, 1.0).text, expected);
}

TEST(AssembleText, SideBySideObservationsAreTwoLinesWithoutAGap) {
  const RecognizedText result =
      assembleText({line("right", 0.5, 0.55, 0.6), line("left", 0.5, 0.55, 0.1)}, 1.0);
  EXPECT_EQ(result.text, "left\nright");
}

}  // namespace
}  // namespace brindlewox
