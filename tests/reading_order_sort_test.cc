#include "pipeline/reading_order_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "pipeline/text_assembly.h"

namespace brindlewox {
namespace {

TEST(MinimumRunLength, MatchesTheWorkedValues) {
  EXPECT_EQ(minimumRunLength(10), 10U);
  EXPECT_EQ(minimumRunLength(63), 63U);
  EXPECT_EQ(minimumRunLength(64), 32U);
  EXPECT_EQ(minimumRunLength(65), 33U);
  EXPECT_EQ(minimumRunLength(100), 50U);
  EXPECT_EQ(minimumRunLength(127), 64U);
  EXPECT_EQ(minimumRunLength(128), 32U);
  EXPECT_EQ(minimumRunLength(1000), 63U);
}

TEST(ReadingOrderSort, NeverCallsTheTestForFewerThanTwoElements) {
  int calls = 0;
  auto counting = [&](int a, int b) { return ++calls, a < b; };
  std::vector<int> empty;
  readingOrderSort(empty, counting);
  std::vector<int> one = {7};
  readingOrderSort(one, counting);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(one, std::vector<int>{7});
}

TEST(ReadingOrderSort, FindsWholeRunsWithOneTestPerNeighbour) {
  for (const bool descending : {false, true}) {
    std::vector<int> values(200);
    for (int i = 0; i < 200; ++i) values[static_cast<std::size_t>(i)] = descending ? 200 - i : i;
    int calls = 0;
    readingOrderSort(values, [&](int a, int b) { return ++calls, a < b; });
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    EXPECT_EQ(calls, 199) << "descending " << descending;  // one run, reversed when descending, no merge
  }
}

// Elements carry their original position so stability is visible.
struct Keyed {
  int key;
  int position;
  bool operator==(const Keyed&) const = default;
};

TEST(ReadingOrderSort, EqualsAStableSortUnderAConsistentTest) {
  std::mt19937 random(1234);
  for (const int n : {2, 5, 63, 64, 65, 100, 127, 128, 500, 1000, 4097}) {
    for (const int keyRange : {3, 50, 100000}) {
      std::vector<Keyed> values;
      std::uniform_int_distribution<int> key(0, keyRange);
      for (int i = 0; i < n; ++i) values.push_back({key(random), i});
      // Partly presorted input exercises natural runs and the merge rules.
      if (n > 100) std::sort(values.begin() + n / 3, values.begin() + n / 2, [](auto a, auto b) { return a.key > b.key; });
      std::vector<Keyed> expected = values;
      auto before = [](const Keyed& a, const Keyed& b) { return a.key < b.key; };
      std::stable_sort(expected.begin(), expected.end(), before);
      readingOrderSort(values, before);
      EXPECT_EQ(values, expected) << "n=" << n << " keys=" << keyRange;
    }
  }
}

TEST(ReadingOrderSort, StaysAPermutationWhateverTheTestAnswers) {
  std::mt19937 random(99);
  for (const int n : {3, 40, 64, 200, 3000}) {
    std::vector<int> values(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) values[static_cast<std::size_t>(i)] = i;
    std::bernoulli_distribution coin(0.5);
    readingOrderSort(values, [&](int, int) { return coin(random); });
    std::vector<int> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < n; ++i) ASSERT_EQ(sorted[static_cast<std::size_t>(i)], i) << "n=" << n;
  }
}

TextObservation at(double midY, double minX) {
  return {NormalizedBox{minX, midY - 0.005, 0.1, 0.01}, TextCandidate{"", 1.0F}};
}

TEST(ReadingOrderSort, InsertionStopsAtTheFirstElementNotPassed) {
  // Each element is compared only with its neighbour ahead: the third is
  // clearly higher than the first but on the same line as (and not left of)
  // the second, so nothing moves. A merge sort compares other pairs and
  // brings the third to the front.
  const std::vector<TextObservation> listed = {at(0.53, 0.0), at(0.54, 0.3), at(0.55, 0.3), at(0.53, 0.4)};
  std::vector<TextObservation> ours = listed;
  readingOrderSort(ours, comesBefore);
  for (std::size_t i = 0; i < listed.size(); ++i) {
    EXPECT_DOUBLE_EQ(ours[i].box.midY(), listed[i].box.midY());
    EXPECT_DOUBLE_EQ(ours[i].box.minX(), listed[i].box.minX());
  }
  std::vector<TextObservation> merged = listed;
  std::stable_sort(merged.begin(), merged.end(), comesBefore);
  EXPECT_DOUBLE_EQ(merged[0].box.midY(), listed[2].box.midY());
}

TEST(ReadingOrderSort, HandlesDensePagesWithTheNonTransitiveTest) {
  // 120 lines 0.01 apart: neighbours compare by left edge, lines two apart by
  // height. The result must still hold every observation exactly once.
  std::vector<TextObservation> lines;
  for (int i = 0; i < 120; ++i) lines.push_back(at(0.95 - 0.01 * (i % 90), (i * 37 % 11) / 20.0));
  std::vector<TextObservation> sorted = lines;
  readingOrderSort(sorted, comesBefore);
  ASSERT_EQ(sorted.size(), lines.size());
  auto key = [](const TextObservation& o) { return std::pair(o.box.midY(), o.box.minX()); };
  std::vector<std::pair<double, double>> a, b;
  for (const auto& o : lines) a.push_back(key(o));
  for (const auto& o : sorted) b.push_back(key(o));
  std::sort(a.begin(), a.end());
  std::sort(b.begin(), b.end());
  EXPECT_EQ(a, b);
}

}  // namespace
}  // namespace brindlewox
