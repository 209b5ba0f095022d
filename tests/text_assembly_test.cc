#include "pipeline/text_assembly.h"

#include <gtest/gtest.h>

namespace brindlewox {
namespace {

// A line with its top and bottom given directly.
TextObservation line(const char* text, double bottom, double top, double left = 0.1, float confidence = 1.0F) {
  return {NormalizedBox{left, bottom, 0.5, top - bottom}, TextCandidate{text, confidence}};
}

TEST(AssembleText, NothingGivesEmptyTextAndZeroConfidence) {
  const RecognizedText result = assembleText({});
  EXPECT_EQ(result.text, "");
  EXPECT_EQ(result.confidence, 0.0);
}

TEST(AssembleText, OrdersTopToBottomAndTrimsEachLine) {
  const RecognizedText result = assembleText({line("  second line \t", 0.80, 0.82), line("first line", 0.84, 0.86)});
  EXPECT_EQ(result.text, "first line\nsecond line");
}

TEST(AssembleText, SkipsBlankCandidatesAndMeasuresTheGapFromTheLastKeptLine) {
  std::vector<TextObservation> observations = {
      line("top", 0.90, 0.92),
      line(" \n\u3000 ", 0.80, 0.82, 0.1, 0.1F),   // only white space: no line, no confidence
      {NormalizedBox{0.1, 0.70, 0.5, 0.02}, std::nullopt},  // no candidate at all
      line("bottom", 0.86, 0.88),  // 0.02 below "top": no paragraph gap
  };
  const RecognizedText result = assembleText(observations);
  EXPECT_EQ(result.text, "top\nbottom");
  EXPECT_DOUBLE_EQ(result.confidence, 1.0);
}

TEST(AssembleText, ParagraphGapIsStrictlyLargerThanTheThreshold) {
  // Bottom at exactly the threshold above a zero-height line at 0: the
  // computed gap equals the threshold without any rounding.
  const TextObservation upper = line("a", kParagraphGap, kParagraphGap + 0.05);
  const TextObservation atZero{NormalizedBox{0.1, 0.0, 0.5, 0.0}, TextCandidate{"b", 1}};
  EXPECT_EQ(assembleText({upper, atZero}).text, "a\nb");
  const TextObservation justBelow{NormalizedBox{0.1, -0.02, 0.5, 0.02 - 1e-9}, TextCandidate{"b", 1}};
  EXPECT_EQ(assembleText({upper, justBelow}).text, "a\n\nb");
  const RecognizedText huge = assembleText({line("a", 0.75, 0.8), line("b", 0.0, 0.05)});
  EXPECT_EQ(huge.text, "a\n\nb");  // at most one empty line
}

TEST(AssembleText, ConfidenceIgnoresTheEmptySeparatorLines) {
  const RecognizedText result =
      assembleText({line("first", 0.80, 0.85, 0.1, 0.5F), line("second", 0.20, 0.25, 0.1, 1.0F)});
  EXPECT_EQ(result.text, "first\n\nsecond");
  EXPECT_DOUBLE_EQ(result.confidence, 0.75);
}

TEST(AssembleText, SameLineToleranceComparesCentresInclusively) {
  // Centres 0.50 and 0.49: the lower one starts further left, so it comes first.
  const RecognizedText near = assembleText({line("higher", 0.49, 0.51, 0.10), line("lower", 0.48, 0.50, 0.05)});
  EXPECT_EQ(near.text, "lower\nhigher");
  // Centres exactly the tolerance apart (zero-height boxes at 0.018 and 0)
  // count as one line and are ordered by their left edges.
  const TextObservation right{NormalizedBox{0.6, kSameLineTolerance, 0.2, 0.0}, TextCandidate{"right", 1}};
  const TextObservation left{NormalizedBox{0.1, 0.0, 0.2, 0.0}, TextCandidate{"left", 1}};
  EXPECT_EQ(assembleText({right, left}).text, "left\nright");
  // Clearly apart: the higher one comes first whatever the left edges.
  const TextObservation lowerLeft{NormalizedBox{0.1, -0.5, 0.2, 0.02}, TextCandidate{"lower", 1}};
  EXPECT_EQ(assembleText({lowerLeft, right}).text, "right\n\nlower");
}

TEST(AssembleText, EqualPositionsKeepTheRecognisersOrder) {
  const RecognizedText result = assembleText({line("one", 0.5, 0.52), line("two", 0.5, 0.52), line("three", 0.5, 0.52)});
  EXPECT_EQ(result.text, "one\ntwo\nthree");
}

TEST(AssembleText, SideBySideObservationsAreTwoLinesWithoutAGap) {
  const RecognizedText result = assembleText({line("right", 0.5, 0.55, 0.6), line("left", 0.5, 0.55, 0.1)});
  EXPECT_EQ(result.text, "left\nright");
}

}  // namespace
}  // namespace brindlewox
