#include "platform/recognizer/ctc_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace brindlewox {
namespace {

// Dictionary: 1 "a", 2 "b", 3 "中", 4 "1", 5 ",", 6 ".", 7 "A"; class 8 is the space.
const std::vector<std::string> kDictionary = {"a", "b", "\xe4\xb8\xad", "1", ",", ".", "A"};
constexpr int kClasses = 9;
constexpr int kSpace = 8;

// Frames where one class takes `p` and the blank the rest; -1 is a blank frame.
std::vector<float> frames(const std::vector<int>& classes, float p = 0.9F) {
  std::vector<float> out;
  for (const int c : classes) {
    std::vector<float> row(kClasses, 0.0F);
    if (c < 0) {
      row[0] = 1.0F;
    } else {
      row[static_cast<std::size_t>(c)] = p;
      row[0] += 1.0F - p;
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

DecodedLine decode(const std::vector<float>& probabilities) {
  return CTCDecoder(kDictionary)
      .decode(probabilities.data(), static_cast<int>(probabilities.size() / kClasses));
}

TEST(CTCDecoder, CollapsesRepeatsAndDropsBlanks) {
  const DecodedLine line = decode(frames({1, 1, -1, 1, 2, 2, -1, -1, 3}));
  EXPECT_EQ(line.text, "aab\xe4\xb8\xad");
  EXPECT_FLOAT_EQ(line.confidence, 0.9F);
}

TEST(CTCDecoder, ConfidenceIsTheMeanOfTheEmittedCharacters) {
  std::vector<float> probabilities = frames({1, -1, 2});
  probabilities[0 * kClasses + 1] = 0.6F;
  probabilities[0 * kClasses + 0] = 0.4F;
  probabilities[2 * kClasses + 2] = 1.0F;
  probabilities[2 * kClasses + 0] = 0.0F;
  EXPECT_FLOAT_EQ(decode(probabilities).confidence, 0.8F);
  EXPECT_EQ(decode(frames({-1, -1})).text, "");
  EXPECT_EQ(decode(frames({-1, -1})).confidence, 0.0F);
}

TEST(CTCDecoder, KeepsEmittedSpaces) {
  EXPECT_EQ(decode(frames({1, -1, kSpace, -1, 2})).text, "a b");
}

TEST(CTCDecoder, RestoresAWordBreakFromSpaceEvidenceBetweenLetters) {
  std::vector<float> probabilities = frames({1, -1, -1, 2});
  probabilities[1 * kClasses + kSpace] = 0.2F;  // the space lost to the blank in frame 1
  probabilities[1 * kClasses + 0] = 0.8F;
  EXPECT_EQ(decode(probabilities).text, "a b");
  // The same evidence between two Chinese characters adds nothing.
  std::vector<float> chinese = frames({3, -1, -1, 3});
  chinese[1 * kClasses + kSpace] = 0.2F;
  chinese[1 * kClasses + 0] = 0.8F;
  EXPECT_EQ(decode(chinese).text, "\xe4\xb8\xad\xe4\xb8\xad");
}

TEST(CTCDecoder, RestoresBreaksAfterPunctuationButNotInsideNumbers) {
  auto withEvidence = [](std::vector<int> classes) {
    std::vector<float> probabilities = frames(classes);
    probabilities[2 * kClasses + kSpace] = 0.2F;
    probabilities[2 * kClasses + 0] = 0.8F;
    return decode(probabilities).text;
  };
  EXPECT_EQ(withEvidence({1, 5, -1, 2}), "a, b");
  EXPECT_EQ(withEvidence({1, 6, -1, 7}), "a. A");
  EXPECT_EQ(withEvidence({7, 6, -1, 7}), "A. A");  // initials: "R. B. Spell"
  // A number's separators stay joined whatever the evidence: "1,000", "12.99".
  EXPECT_EQ(withEvidence({4, 5, -1, 4}), "1,1");
  EXPECT_EQ(withEvidence({4, 6, -1, 4}), "1.1");
}

TEST(CTCDecoder, IgnoresFaintSpaceEvidenceAndCanBeTurnedOff) {
  std::vector<float> faint = frames({1, -1, -1, 2});
  faint[1 * kClasses + kSpace] = 0.001F;
  faint[1 * kClasses + 0] = 0.999F;
  EXPECT_EQ(decode(faint).text, "ab");
  std::vector<float> clear = frames({1, -1, -1, 2});
  clear[1 * kClasses + kSpace] = 0.3F;
  clear[1 * kClasses + 0] = 0.7F;
  const CTCDecoder literal(kDictionary, false);
  EXPECT_EQ(literal.decode(clear.data(), 4).text, "ab");
}

// A line written one frame per character: a b 1 , . A as themselves, H for
// 中, '_' a blank frame, ' ' a space the network wrote; `evidence` puts space-class
// probability on given frames, taken from the frame's top class.
std::vector<float> rowsOf(const std::string& written,
                          const std::vector<std::pair<int, float>>& evidence) {
  const std::string symbols = "?ab?1,.A";
  std::vector<int> classes;
  for (const char c : written) {
    classes.push_back(c == '_'   ? -1
                      : c == ' ' ? kSpace
                      : c == 'H' ? 3
                                 : static_cast<int>(symbols.find(c)));
  }
  std::vector<float> probabilities = frames(classes);
  for (const auto& [frame, p] : evidence) {
    float* row = probabilities.data() + static_cast<std::size_t>(frame) * kClasses;
    *std::max_element(row, row + kClasses) -= p;
    row[kSpace] += p;
  }
  return probabilities;
}

std::string read(const std::string& written, const std::vector<std::pair<int, float>>& evidence) {
  return decode(rowsOf(written, evidence)).text;
}

TEST(CTCDecoder, WeighsSpaceEvidenceAgainstTheLinesOwnLetterSpacing) {
  // Letters every 2 frames. A gap one frame wider than usual is a wide
  // letter when its evidence is faint...
  EXPECT_EQ(read("a_b_a_b_a__b_a", {{9, 0.015F}}), "abababa");
  EXPECT_EQ(read("a_b_a_b_a__b_a", {{9, 0.06F}}), "ababa ba");
  // ...a gap of the usual width is a break only on strong evidence (a real
  // space on tightly set print)...
  EXPECT_EQ(read("a_b_a_b_a_b_a", {{9, 0.05F}}), "abababa");
  EXPECT_EQ(read("a_b_a_b_a_b_a", {{9, 0.3F}}), "ababa ba");
  // ...a gap two frames wider needs only a trace of it...
  EXPECT_EQ(read("a_b_a_b_a___b_a", {{10, 0.015F}}), "ababa ba");
  // ...and none at all is no break, however wide the gap.
  EXPECT_EQ(read("a_b_a_b_a_____b_a", {}), "abababa");
  // A gap narrower than the line's usual one is inside a word...
  EXPECT_EQ(read("a__b__a__b__a_b", {{13, 0.5F}}), "ababab");
  // ...but after a clause mark, narrow itself, faint evidence is a break ("117: total").
  EXPECT_EQ(read("a__b__a__b__a,_b", {{14, 0.02F}}), "ababa, b");
  EXPECT_EQ(read("a__b__a__b__a,_b", {{14, 0.005F}}), "ababa,b");
}

TEST(CTCDecoder, CountsOnlyTheEvidenceBetweenTheLettersAndNoneBesideAWrittenSpace) {
  // The frame that emits a letter carries the probability of a space beside
  // it; between the letters there is none.
  EXPECT_EQ(read("a_b_a_b_a_b_a", {{8, 0.4F}, {10, 0.4F}}), "abababa");
  // Beside a space the network wrote, evidence is that space's spill ("journalct l command").
  EXPECT_EQ(read("a_b_a_b_a_b _a", {{9, 0.3F}}), "ababab a");
  EXPECT_EQ(read("a_b_a_b _a_b_a", {{9, 0.3F}}), "abab aba");
  EXPECT_EQ(read("a_b_a_b _a_b_a_b_a", {{12, 0.3F}}), "abab ab aba");
}

// The figures' symbols with a space before each gap that breaks.
std::string spelled(const SpaceFigures& figures) {
  std::string text;
  for (std::size_t i = 0; i < figures.symbols.size(); ++i) {
    const bool breaks =
        std::any_of(figures.gaps.begin(), figures.gaps.end(),
                    [&](const SpaceGap& gap) { return gap.next == i && gap.breaks(); });
    text += (breaks ? " " : "") + figures.symbols[i];
  }
  return text;
}

TEST(CTCDecoder, SpaceFiguresAreWhatDecodingBreaksOn) {
  const std::vector<float> line = rowsOf("a_b_a_b_a__b_a", {{9, 0.06F}});
  const SpaceFigures figures = CTCDecoder(kDictionary).spaceFigures(line.data(), 14);
  EXPECT_EQ(figures.symbols, (std::vector<std::string>{"a", "b", "a", "b", "a", "b", "a"}));
  EXPECT_EQ(figures.usualLetterGap, 2);
  ASSERT_EQ(figures.gaps.size(), 6U);
  for (std::size_t i = 0; i < figures.gaps.size(); ++i) {
    const SpaceGap& gap = figures.gaps[i];
    EXPECT_EQ(gap.rule, SpaceGap::Rule::betweenLatin);
    EXPECT_EQ(gap.next, i + 1);
    // The one wider gap needs less evidence than the usual ones, and has it.
    EXPECT_EQ(gap.frames, i == 4 ? 3 : 2);
    EXPECT_FLOAT_EQ(gap.needed, i == 4 ? 0.02F : 0.1F);
    EXPECT_FLOAT_EQ(gap.evidence, i == 4 ? 0.06F : 0.0F);
  }
  EXPECT_EQ(spelled(figures), "ababa ba");
  EXPECT_EQ(spelled(figures), decode(line).text);
}

TEST(CTCDecoder, SpaceFiguresNameEachGapsRuleAndOnlyTheGapsARuleWeighs) {
  // a , 中 1 . 1, a space the network wrote, b a; faint evidence before 中 and after it.
  const std::vector<float> line = rowsOf("a,_H_1.1_ _b_a", {{2, 0.005F}, {4, 0.005F}});
  const SpaceFigures figures = CTCDecoder(kDictionary).spaceFigures(line.data(), 14);
  EXPECT_EQ(figures.symbols,
            (std::vector<std::string>{"a", ",", "中", "1", ".", "1", " ", "b", "a"}));
  EXPECT_EQ(figures.usualLetterGap, std::nullopt);  // one gap between letters
  // Not inside the number, nor beside the network's space.
  ASSERT_EQ(figures.gaps.size(), 4U);
  EXPECT_EQ(figures.gaps[0].rule, SpaceGap::Rule::betweenLatin);
  EXPECT_FLOAT_EQ(figures.gaps[0].needed, 0.03F);  // the line's spacing unknown
  EXPECT_EQ(figures.gaps[1].rule, SpaceGap::Rule::clauseBeforeHan);
  EXPECT_EQ(figures.gaps[1].next, 2U);
  EXPECT_TRUE(figures.gaps[1].breaks());
  EXPECT_EQ(figures.gaps[2].rule, SpaceGap::Rule::betweenScripts);
  EXPECT_EQ(figures.gaps[2].next, 3U);
  EXPECT_FALSE(figures.gaps[2].breaks());
  EXPECT_EQ(figures.gaps[3].rule, SpaceGap::Rule::betweenLatin);
  EXPECT_EQ(figures.gaps[3].next, 4U);
  EXPECT_EQ(decode(line).text, "a, 中1.1 ba");
  EXPECT_EQ(spelled(figures), decode(line).text);
  // Figured as well where the decoder keeps only the network's spaces.
  const CTCDecoder literal(kDictionary, false);
  EXPECT_EQ(literal.spaceFigures(line.data(), 14).gaps.size(), 4U);
  EXPECT_EQ(literal.decode(line.data(), 14).text, "a,中1.1 ba");
}

// Dictionary: "o" is class 9 of this one, "0" class 10, "s" class 11.
TEST(CTCDecoder, ReadsTheLetterOAsZeroInsideNumbersOnly) {
  const CTCDecoder decoder({"1", "9", "4", ".", " ", "x", "y", "z", "o", "0", "s"}, false);
  auto read = [&](const std::vector<int>& classes) {
    std::vector<float> probabilities;
    for (const int c : classes) {
      std::vector<float> row(decoder.classCount(), 0.0F);
      row[static_cast<std::size_t>(c)] = 1.0F;
      probabilities.insert(probabilities.end(), row.begin(), row.end());
      probabilities.insert(probabilities.end(), decoder.classCount(), 0.0F);
      probabilities[probabilities.size() - decoder.classCount()] = 1.0F;  // a blank between
    }
    return decoder
        .decode(probabilities.data(), static_cast<int>(probabilities.size() / decoder.classCount()))
        .text;
  };
  EXPECT_EQ(read({2, 9, 9, 3, 4}), "9004.");   // "9oo4."
  EXPECT_EQ(read({1, 9, 10, 1}), "1001");      // "1o01"
  EXPECT_EQ(read({1, 9, 5, 9, 11}), "1o os");  // one digit, and a word
  EXPECT_EQ(read({11, 9, 1, 2}), "so19");      // a letter other than o: a word, not a number
}

}  // namespace
}  // namespace brindlewox

namespace brindlewox {
namespace {

// Dictionary: 1 "中", 2 "c", 3 "。", 4 "d", 5 "，", 6 "."; class 7 is the space.
TEST(CTCDecoder, ALoneLatinLetterInCJKTextIsReadAsTheFullWidthCloseCandidate) {
  const std::vector<std::string> dictionary = {"\xe4\xb8\xad", "c", "\xe3\x80\x82", "d",
                                               "\xef\xbc\x8c", "."};
  constexpr int classes = 8;
  // One row per symbol: the symbol at 0.66, and 。 at `fullStop` in the same frame.
  auto line = [&](const std::vector<int>& symbols, float fullStop) {
    std::vector<float> rows;
    for (const int c : symbols) {
      std::vector<float> row(classes, 0.0F);
      row[static_cast<std::size_t>(c)] = 0.66F;
      if (c != 3) row[3] = fullStop;
      row[0] = 1.0F - row[static_cast<std::size_t>(c)] - row[3];
      rows.insert(rows.end(), row.begin(), row.end());
      rows.insert(rows.end(), classes, 0.0F);
      rows[rows.size() - classes] = 1.0F;  // a blank frame between symbols
    }
    return CTCDecoder(dictionary).decode(rows.data(), static_cast<int>(rows.size() / classes)).text;
  };
  EXPECT_EQ(line({1, 1, 2}, 0.06F), "中中。");  // at the end of a CJK line
  EXPECT_EQ(line({1, 2, 1}, 0.06F), "中。中");  // alone between CJK characters
  EXPECT_EQ(line({1, 1, 2}, 0.001F), "中中c");  // a real letter: 。 is no close candidate
  EXPECT_EQ(line({1, 2, 4}, 0.06F), "中cd");    // the start of a Latin word
  EXPECT_EQ(line({4, 2}, 0.06F), "dc");         // Latin text is left alone
  EXPECT_EQ(line({1, 6}, 0.06F), "中.");        // a half-width stop is often real
}

TEST(CTCDecoder, RestoresASpaceBetweenHanAndLatinWordsOnlyOnEvidence) {
  // Dictionary: 1 "中", 2 "a"; class 3 is the space. Frames: 中, a gap, a, a gap, 中.
  const std::vector<std::string> dictionary = {"\xe4\xb8\xad", "a"};
  constexpr int classes = 4;
  auto line = [&](float evidence) {
    std::vector<float> rows;
    for (const int c : {1, 0, 2, 0, 1}) {
      std::vector<float> row(classes, 0.0F);
      row[static_cast<std::size_t>(c)] = 1.0F;
      if (c == 0) {
        row[3] = evidence;
        row[0] = 1.0F - evidence;
      }
      rows.insert(rows.end(), row.begin(), row.end());
    }
    return CTCDecoder(dictionary).decode(rows.data(), static_cast<int>(rows.size() / classes)).text;
  };
  EXPECT_EQ(line(0.3F), "中 a 中");
  EXPECT_EQ(line(0.001F), "中a中");
}

TEST(CTCDecoder, ALatinWordsCommaBeforeHanTakesItsSpaceOnFaintEvidence) {
  // Dictionary: 1 "中", 2 "a", 3 ",", 4 "1"; class 5 is the space. Frames:
  // the word, its comma, a gap with `evidence`, 中.
  const std::vector<std::string> dictionary = {"中", "a", ",", "1"};
  constexpr int classes = 6;
  auto line = [&](int word, float evidence) {
    std::vector<float> rows;
    for (const int c : {word, 0, 3, 0, 1}) {
      std::vector<float> row(classes, 0.0F);
      row[static_cast<std::size_t>(c)] = 1.0F;
      if (c == 0) {
        row[5] = evidence;
        row[0] = 1.0F - evidence;
      }
      rows.insert(rows.end(), row.begin(), row.end());
    }
    return CTCDecoder(dictionary).decode(rows.data(), static_cast<int>(rows.size() / classes)).text;
  };
  EXPECT_EQ(line(2, 0.0045F), "a, 中");  // as in "English, 简体中文"
  EXPECT_EQ(line(2, 0.0005F), "a,中");
  EXPECT_EQ(line(4, 0.0045F), "1,中");  // after a number, not a word: no convention to follow
}

}  // namespace
}  // namespace brindlewox

namespace brindlewox {
namespace {

// Dictionary: 1 中, 2 文, 3 软, 4 体, 5 包; class 6 is the space.
const std::vector<std::string> kHan = {"中", "文", "软", "体", "包"};
constexpr std::size_t kHanClasses = 7;

// One row per frame: `top` at 0.95 (the blank when -1), or the blank at
// 0.89 with `runnerUp` at 0.11 (a character the network nearly dropped).
std::vector<float> rows(const std::vector<std::pair<int, int>>& frames) {
  std::vector<float> out;
  for (const auto& [top, runnerUp] : frames) {
    std::vector<float> row(kHanClasses, 0.0F);
    if (runnerUp > 0) {
      row[0] = 0.89F;
      row[static_cast<std::size_t>(runnerUp)] = 0.11F;
    } else {
      row[static_cast<std::size_t>(std::max(top, 0))] = 0.95F;
      row[top > 0 ? 0 : kHanClasses - 1] += 0.05F;  // the rest on the blank, or on the space
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

// 软 stands for 軟, which the dictionary lacks; 文 for 文, which it has.
std::string readHan(const std::vector<float>& probabilities, bool restoring = true) {
  CTCDecoder decoder(kHan);
  if (restoring) decoder.restoreUnknownTraditional({{3, "軟"}});
  return decoder.decode(probabilities.data(), static_cast<int>(probabilities.size() / kHanClasses))
      .text;
}

constexpr std::pair<int, int> kBlank{-1, 0};

TEST(CTCDecoder, ATraditionalCharacterLostToTheBlankInAGapWithRoomForItIsRestored) {
  // 中 文 _ 体 包 at a pitch of four frames; 软 the runner-up in the gap.
  std::vector<std::pair<int, int>> line = {{1, 0}, kBlank,  kBlank, kBlank, {2, 0}, kBlank, kBlank,
                                           kBlank, {-1, 3}, kBlank, kBlank, kBlank, {4, 0}, kBlank,
                                           kBlank, kBlank,  {5, 0}, kBlank, kBlank, kBlank, {1, 0}};
  EXPECT_EQ(readHan(rows(line)), "中文軟体包中");
  EXPECT_EQ(readHan(rows(line), false), "中文体包中");

  // A gap of the usual pitch has no room, however likely the runner-up.
  std::vector<std::pair<int, int>> tight = {{1, 0}, kBlank, {-1, 3}, kBlank, {2, 0}, kBlank,
                                            kBlank, kBlank, {4, 0},  kBlank, kBlank, kBlank,
                                            {5, 0}, kBlank, kBlank,  kBlank, {1, 0}};
  EXPECT_EQ(readHan(rows(tight)), "中文体包中");

  // Only the stand-ins for unknown traditional forms are restored.
  line[8] = {-1, 5};
  EXPECT_EQ(readHan(rows(line)), "中文体包中");

  // A neighbour's own class spilling into the gap is not a second character.
  std::vector<std::pair<int, int>> spill = {
      {1, 0}, kBlank,  kBlank, kBlank, {2, 0}, kBlank, kBlank, kBlank, {3, 0}, kBlank, kBlank,
      kBlank, {-1, 3}, kBlank, kBlank, kBlank, {4, 0}, kBlank, kBlank, kBlank, {5, 0}};
  EXPECT_EQ(readHan(rows(spill)), "中文软体包");

  // Faint evidence is not enough.
  std::vector<float> faint = rows(line);
  faint[8 * kHanClasses + 0] = 0.97F;
  faint[8 * kHanClasses + 5] = 0.0F;
  faint[8 * kHanClasses + 3] = 0.03F;
  EXPECT_EQ(readHan(faint), "中文体包中");
}

TEST(CTCDecoder, SpaceFiguresShowARestoredCharacterAsWritten) {
  const std::vector<float> line = rows({{1, 0},
                                        kBlank,
                                        kBlank,
                                        kBlank,
                                        {2, 0},
                                        kBlank,
                                        kBlank,
                                        kBlank,
                                        {-1, 3},
                                        kBlank,
                                        kBlank,
                                        kBlank,
                                        {4, 0},
                                        kBlank,
                                        kBlank,
                                        kBlank,
                                        {5, 0}});
  CTCDecoder decoder(kHan);
  decoder.restoreUnknownTraditional({{3, "軟"}});
  EXPECT_EQ(decoder.spaceFigures(line.data(), static_cast<int>(line.size() / kHanClasses)).symbols,
            (std::vector<std::string>{"中", "文", "軟", "体", "包"}));
}

}  // namespace
}  // namespace brindlewox

namespace brindlewox {
namespace {

// A line built by hand for the passes after the greedy path: symbols of
// kLatin at given frames (0.9, the blank the rest), blank frames elsewhere,
// with space evidence and runner-ups moved onto a frame from its top class.
const std::vector<std::string> kLatin = {
    "a", "b", "e", "f", "h", "i", "k", "l", "m", "n", "o",  "p",  "r",  "s",      "t",
    "T", "v", "x", "0", "1", "5", "6", ".", ",", "(", "（", "，", "：", "中",     "·",
    "•", "I", "y", "d", "j", "c", "u", "g", "w", ":", ")",  "）", "\"", "\u201c", "\u201d"};

class HandLine {
 public:
  explicit HandLine(int frames)
      : frames_(frames), rows_(static_cast<std::size_t>(frames) * classes(), 0.0F) {
    for (int f = 0; f < frames; ++f) row(f)[0] = 1.0F;
  }
  static std::size_t classes() { return kLatin.size() + 2; }
  static std::size_t classOf(const std::string& symbol) {
    if (symbol == " ") return classes() - 1;
    const auto found = std::find(kLatin.begin(), kLatin.end(), symbol);
    if (found == kLatin.end()) ADD_FAILURE() << symbol << " is not in the test's dictionary";
    return static_cast<std::size_t>(found - kLatin.begin()) + 1;
  }
  // The symbols from frame `first`, each gaps[i] frames after the one before.
  HandLine& write(const std::vector<std::string>& symbols, int first,
                  const std::vector<int>& gaps) {
    int frame = first;
    for (std::size_t i = 0; i < symbols.size(); ++i) {
      put(frame, symbols[i]);
      if (i < gaps.size()) frame += gaps[i];
    }
    return *this;
  }
  HandLine& put(int frame, const std::string& symbol) {
    float* r = row(frame);
    std::fill(r, r + classes(), 0.0F);
    r[classOf(symbol)] = 0.9F;
    r[0] = 0.1F;
    return *this;
  }
  HandLine& space(int frame, float p) { return move(frame, classes() - 1, p); }
  HandLine& runnerUp(int frame, const std::string& symbol, float p) {
    return move(frame, classOf(symbol), p);
  }

  std::string read(bool restoreSpaces = true) const {
    return CTCDecoder(kLatin, restoreSpaces).decode(rows_.data(), frames_).text;
  }
  SpaceFigures figures() const { return CTCDecoder(kLatin).spaceFigures(rows_.data(), frames_); }

 private:
  float* row(int frame) { return rows_.data() + static_cast<std::size_t>(frame) * classes(); }
  HandLine& move(int frame, std::size_t c, float p) {
    float* r = row(frame);
    *std::max_element(r, r + classes()) -= p;
    r[c] += p;
    return *this;
  }
  int frames_;
  std::vector<float> rows_;
};

std::vector<std::string> split(const std::string& ascii) {
  std::vector<std::string> out;
  for (const char c : ascii) out.emplace_back(1, c);
  return out;
}

std::vector<int> even(std::size_t count, int pitch) {
  return std::vector<int>(count, pitch);
}

TEST(CTCDecoderFixedPitch, ASpaceIsAWholeEmptyCellNotAWideLetterGap) {
  // "man systemd journalctl" in a fixed-pitch font: every character 3
  // frames after the last, narrow ones (t, l, j) included; each space a cell
  // of its own, the first one written by the network.
  std::vector<std::string> symbols = split("man");
  symbols.emplace_back(" ");
  for (const std::string& s : split("systemdjournalctl")) symbols.push_back(s);
  std::vector<int> gaps = even(symbols.size() - 1, 3);
  gaps[6] = 4;   // "sys|temd": a letter gap one frame wider, with some evidence
  gaps[10] = 6;  // the space, one empty cell, barely seen by the network
  HandLine line(90);
  line.write(symbols, 1, gaps).space(21, 0.05F).space(37, 0.002F);
  EXPECT_EQ(line.read(), "man systemd journalctl");
  const SpaceFigures figures = line.figures();
  ASSERT_TRUE(figures.fixedPitch.has_value());
  EXPECT_NEAR(*figures.fixedPitch, 3.0, 0.1);
  ASSERT_FALSE(figures.gaps.empty());
  EXPECT_TRUE(std::all_of(figures.gaps.begin(), figures.gaps.end(), [](const SpaceGap& gap) {
    return gap.rule == SpaceGap::Rule::fixedPitch;
  }));
  // Without a whole cell, no evidence makes a break.
  HandLine tight(70);
  std::vector<int> noCell = gaps;
  noCell[10] = 4;
  tight.write(symbols, 1, noCell).space(21, 0.05F).space(35, 0.5F);
  EXPECT_EQ(tight.read(), "man systemdjournalctl");
}

TEST(CTCDecoderFixedPitch, ALineWhoseSpacesAreNarrowerThanACellIsProportional) {
  // "many ofthose": letters at an even 3 frames, narrow ones too, as a
  // serif line looks at a coarse pitch; but its written space spans 4
  // frames from letter to letter, not two cells. "of|those", one frame
  // wider with strong evidence, is a break.
  std::vector<std::string> symbols = split("many");
  symbols.emplace_back(" ");
  for (const std::string& s : split("ofthose")) symbols.push_back(s);
  HandLine line(40);
  line.write(symbols, 1, {3, 3, 3, 2, 2, 3, 4, 3, 3, 3, 3}).space(19, 0.3F);
  EXPECT_FALSE(line.figures().fixedPitch.has_value());
  EXPECT_EQ(line.read(), "many of those");
  // With a whole cell for its space the same letters are fixed-pitch.
  HandLine cells(40);
  cells.write(symbols, 1, {3, 3, 3, 3, 3, 3, 4, 3, 3, 3, 3}).space(21, 0.3F);
  EXPECT_TRUE(cells.figures().fixedPitch.has_value());
  EXPECT_EQ(cells.read(), "many ofthose");
}

TEST(CTCDecoderFixedPitch, ProportionalTextKeepsTheUsualGapRule) {
  // The same letters in proportional type: gaps beside t, l, j are a frame
  // narrower, and a gap one frame wider than usual with evidence is a break.
  const std::vector<std::string> symbols = split("systemdjournalctl");
  std::vector<int> gaps;
  for (std::size_t i = 0; i + 1 < symbols.size(); ++i) {
    const bool narrow = std::string("tlj").find(symbols[i][0]) != std::string::npos ||
                        std::string("tlj").find(symbols[i + 1][0]) != std::string::npos;
    gaps.push_back(narrow ? 2 : 3);
  }
  gaps[1] = 4;  // "sy|stemd", one frame wider than the usual 3
  HandLine line(70);
  line.write(symbols, 1, gaps).space(5, 0.05F);
  EXPECT_EQ(line.read(), "sy stemdjournalctl");
  EXPECT_FALSE(line.figures().fixedPitch.has_value());
}

TEST(CTCDecoderFixedPitch, APhotographedLineWithUnevenGapsIsNotFixedPitch) {
  // A proportional line in a photo: narrow letters' gaps as wide as the
  // rest, as in fixed-pitch type, but the gaps wander from 2 to 4 frames.
  // Its word breaks, one frame wider than usual with some evidence, stay.
  const std::vector<std::string> symbols = split("decomposesvkakandbkinto");
  const std::vector<int> pattern = {3, 2, 4, 3, 3, 4, 2, 3};
  std::vector<int> gaps;
  for (std::size_t i = 0; i + 1 < symbols.size(); ++i) gaps.push_back(pattern[i % pattern.size()]);
  gaps[9] = 4;   // "decomposes|vk"
  gaps[11] = 4;  // "vk|ak"
  gaps[13] = 4;  // "ak|and"
  gaps[16] = 4;  // "and|bk"
  int frame = 1;
  std::vector<int> at;
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    at.push_back(frame);
    if (i < gaps.size()) frame += gaps[i];
  }
  HandLine line(frame + 2);
  line.write(symbols, 1, gaps);
  for (const std::size_t after : {9, 11, 13, 16}) line.space(at[after] + 2, 0.06F);
  EXPECT_FALSE(line.figures().fixedPitch.has_value());
  EXPECT_EQ(line.read(), "decomposes vk ak and bkinto");
}

TEST(CTCDecoderFixedPitch, ASpaceTheNetworkWroteIsKeptAtLessThanACell) {
  // A fixed-pitch line where the network wrote a space in a gap of one
  // pitch: only the spaces it left out are weighed against the cell.
  std::vector<std::string> symbols = split("systemd");
  symbols.emplace_back(" ");
  for (const std::string& s : split("journalctl")) symbols.push_back(s);
  HandLine line(70);
  line.write(symbols, 1, even(symbols.size() - 1, 3));
  EXPECT_EQ(line.read(), "systemd journalctl");
}

TEST(CTCDecoderFixedPitch, AFixedPitchWordInProportionalTextIsWeighedAgainstItsOwnGaps) {
  // "abababab systemd abab": prose at 2 frames a letter, the command at an
  // even 3 (so no wider letter gap is a break in it); evidence 0.05 inside
  // the command, at "sys|temd".
  auto read = [](int gapInside, float evidence = 0.05F) {
    std::vector<std::string> symbols = split("abababab");
    symbols.emplace_back(" ");
    for (const std::string& s : split("systemd")) symbols.push_back(s);
    symbols.emplace_back(" ");
    for (const std::string& s : split("abab")) symbols.push_back(s);
    std::vector<int> gaps = even(symbols.size() - 1, 2);
    for (std::size_t i = 9; i < 15; ++i) gaps[i] = 3;  // within "systemd"
    gaps[11] = gapInside;                              // s|t
    HandLine line(60);
    line.write(symbols, 1, gaps).space(26, evidence);  // s at 25, t at 28 or later
    return line.read();
  };
  EXPECT_EQ(read(3), "abababab systemd abab");
  EXPECT_EQ(read(4), "abababab systemd abab");
  // A whole empty cell in it is still a break, and so is strong evidence.
  EXPECT_EQ(read(5), "abababab sys temd abab");
  EXPECT_EQ(read(4, 0.3F), "abababab sys temd abab");
  // Between a number and a word the line's own spacing decides: "3,450.00 EUR",
  // its digits set wider than the letters.
  std::vector<std::string> symbols = split("ababab");
  symbols.emplace_back(" ");
  for (const std::string& s : split("1010bab")) symbols.push_back(s);
  std::vector<int> gaps = even(symbols.size() - 1, 2);
  for (std::size_t i = 7; i < 10; ++i) gaps[i] = 3;  // within "1010"
  gaps[10] = 4;                                      // 0|b
  HandLine line(40);
  line.write(symbols, 1, gaps).space(26, 0.05F);  // 0 at 24, b at 28
  EXPECT_EQ(line.read(), "ababab 1010 bab");
}

TEST(CTCDecoderFixedPitch, NoFixedPitchWordOnALineThatHoldsHan) {
  // The line above with a Han character after it: English set among Han,
  // whose short words look evenly set, so the line's own rule decides and
  // the faint evidence at "sys|temd", a gap wider than the line's, breaks it.
  auto read = [](bool han) {
    std::vector<std::string> symbols = split("abababab");
    symbols.emplace_back(" ");
    for (const std::string& s : split("systemd")) symbols.push_back(s);
    symbols.emplace_back(" ");
    for (const std::string& s : split("abab")) symbols.push_back(s);
    if (han) {
      symbols.emplace_back(" ");
      symbols.emplace_back("中");
    }
    std::vector<int> gaps = even(symbols.size() - 1, 2);
    for (std::size_t i = 9; i < 15; ++i) gaps[i] = 3;  // within "systemd"
    gaps[11] = 4;                                      // s|t
    HandLine line(60);
    line.write(symbols, 1, gaps).space(26, 0.05F);
    return line.read();
  };
  EXPECT_EQ(read(false), "abababab systemd abab");
  EXPECT_EQ(read(true), "abababab sys temd abab 中");
}

TEST(CTCDecoderFixedPitch, AProportionalWordSetWideKeepsItsBreak) {
  // "abababab forher abab" in a photo: prose at 2 frames a letter, "forher"
  // wider and uneven (3 to 5), its break "for|her" 5 frames with 0.09
  // evidence. Its gaps are no fixed pitch, so the line's own rule decides.
  std::vector<std::string> symbols = split("abababab");
  symbols.emplace_back(" ");
  for (const std::string& s : split("forher")) symbols.push_back(s);
  symbols.emplace_back(" ");
  for (const std::string& s : split("abab")) symbols.push_back(s);
  std::vector<int> gaps = even(symbols.size() - 1, 2);
  const std::vector<int> inside = {4, 3, 5, 5, 3};  // f|o, o|r, r|h, h|e, e|r
  std::copy(inside.begin(), inside.end(), gaps.begin() + 9);
  HandLine line(60);
  line.write(symbols, 1, gaps).space(27, 0.09F);  // r at 24, h at 29
  EXPECT_EQ(line.read(), "abababab for her abab");
}

TEST(CTCDecoderBullets, ALeadingRoundDotIsABulletWithItsSpace) {
  HandLine middleDot(20);
  middleDot.write({"·", "T", "h", "e", "m"}, 1, {3, 3, 3, 3});
  EXPECT_EQ(middleDot.read(), "• Them");
  // The network's own space is kept, not doubled.
  HandLine spaced(20);
  spaced.write({"•", " ", "T", "h", "e"}, 1, {2, 2, 3, 3});
  EXPECT_EQ(spaced.read(), "• The");
  // A dot inside the line is not a bullet, nor a dot alone.
  HandLine inside(20);
  inside.write({"a", "·", "b"}, 1, {3, 3});
  EXPECT_EQ(inside.read(), "a·b");
  HandLine alone(5);
  alone.put(2, "·");
  EXPECT_EQ(alone.read(), "·");
}

TEST(CTCDecoderLatinPunctuation, FullWidthMarksBetweenLatinSymbolsAreWrittenInAscii) {
  auto read = [](const std::vector<std::string>& symbols) {
    HandLine line(static_cast<int>(symbols.size()) * 3 + 2);
    line.write(symbols, 1, even(symbols.size(), 3));
    return line.read(false);
  };
  EXPECT_EQ(read({"f", "o", "r", "（", "v", "a", "r"}), "for(var");
  EXPECT_EQ(read({"i", "n", "t", "，", "b", "：", "1"}), "int,b:1");
  EXPECT_EQ(read({"（", "1", "）", "中"}),
            "（1）中");  // a Chinese list's number at the line's edge
  EXPECT_EQ(read({"a", " ", "（", " ", "b"}), "a ( b");  // past spaces
  // Beside Han, on either side, the full-width form is the right one.
  EXPECT_EQ(read({"中", "（", "a"}), "中（a");
  EXPECT_EQ(read({"a", "，", "中"}), "a，中");
  EXPECT_EQ(read({"（", "中", "）"}), "（中）");
  // English quoted in a Chinese line keeps its full-width marks: "is（are）in".
  EXPECT_EQ(read({"中", "：", "i", "s", "（", "a", "r", "e", "）", "i", "n"}), "中：is（are）in");
  EXPECT_EQ(read({"i", "s", "（", "a", "r", "e", "）", "i", "n", "，", "中"}), "is（are）in，中");
  // A comma or colon with a wider gap after it than before is punctuation
  // before a word: in an English sentence typed with full-width marks
  // ("other's，one") it stays; set tight inside a token it is ASCII.
  auto spaced = [](int gapAfter) {
    HandLine line(40);
    line.write({"o", "t", "h", "e", "r", "，", "o", "n", "e"}, 1, {3, 3, 3, 3, 3, gapAfter, 3, 3});
    return line.read(false);
  };
  EXPECT_EQ(spaced(5), "other，one");
  EXPECT_EQ(spaced(4), "other,one");
}

TEST(CTCDecoderSentenceMarks, ASpaceAfterAStopOrCommaIsRestoredWhereTheGapHasRoom) {
  // Proportional type: letters every 2 frames, "ta" and the mark after "n"
  // closer; after the mark a gap of 3 (room for a space) or 2 (none).
  auto read = [](const std::string& mark, int gap, float evidence,
                 const std::string& next = "Then") {
    std::vector<std::string> symbols = split("taken" + mark + next);
    std::vector<int> gaps = even(symbols.size() - 1, 2);
    gaps[0] = 1;
    gaps[4] = 1;
    gaps[5] = gap;
    HandLine line(40);
    line.write(symbols, 1, gaps).space(10, evidence);
    return line.read();
  };
  EXPECT_EQ(read(".", 3, 0.002F), "taken. Then");
  EXPECT_EQ(read(",", 3, 0.002F), "taken, Then");
  EXPECT_EQ(read(".", 2, 0.002F), "taken.Then");  // no room: a file name's dot
  EXPECT_EQ(read(".", 3, 0.0F), "taken.Then");    // room, but no sign of a space at all
  EXPECT_EQ(read("5", 3, 0.002F), "taken5Then");  // not after a mark
  // A comma before a small letter is a clause's, a stop a name's ("hostname.domain").
  EXPECT_EQ(read(",", 3, 0.002F, "then"), "taken, then");
  EXPECT_EQ(read(".", 3, 0.002F, "then"), "taken.then");
}

TEST(CTCDecoderDigitsAndLetters, LookAlikesAreReadByTheirNeighboursAndTheRunnerUp) {
  auto read = [](const std::string& text, int frame, const std::string& runnerUp, float p) {
    const std::vector<std::string> symbols = split(text);
    HandLine line(static_cast<int>(symbols.size()) * 3 + 2);
    line.write(symbols, 1, even(symbols.size(), 3));
    if (!runnerUp.empty()) line.runnerUp(1 + 3 * frame, runnerUp, p);
    return line.read(false);
  };
  // l, i or I between digits is a 1, whatever the runner-up.
  EXPECT_EQ(read("5l5", 0, "", 0), "515");
  EXPECT_EQ(read("1i6I0", 0, "", 0), "11610");
  // Beside one digit a letter stays, whatever the runner-up ("total 3").
  EXPECT_EQ(read("tal6", 2, "1", 0.2F), "tal6");
  // A digit between letters is the letter its runner-up is, and only then.
  EXPECT_EQ(read("fi1e", 2, "l", 0.2F), "file");
  EXPECT_EQ(read("b0at", 1, "o", 0.2F), "boat");
  EXPECT_EQ(read("fi1e", 2, "", 0), "fi1e");
  EXPECT_EQ(read("fi1e", 2, "l", 0.005F), "fi1e");  // a runner-up too faint to count
  EXPECT_EQ(read("e1b", 1, "l", 0.045F), "e1b");    // "twelve 1b": a trace of l is no reading
  EXPECT_EQ(read("fu1l", 2, "l", 0.27F), "full");
  // A look-alike letter among letters stays a letter.
  EXPECT_EQ(read("like", 0, "1", 0.2F), "like");
}

}  // namespace
}  // namespace brindlewox

namespace brindlewox {
namespace {

std::string readLine(const std::vector<std::string>& symbols, bool restoreSpaces) {
  HandLine line(static_cast<int>(symbols.size()) * 3 + 2);
  line.write(symbols, 1, even(symbols.size(), 3));
  return line.read(restoreSpaces);
}

TEST(CTCDecoderQuotes, AStraightMarkPairedWithACurlyOneTakesItsCurlyForm) {
  const std::string open = "\u201c";
  const std::string close = "\u201d";
  EXPECT_EQ(readLine({open, "a", "b", "\""}, false), open + "ab" + close);
  EXPECT_EQ(readLine({"\"", "a", "b", close}, false), open + "ab" + close);
  // A straight pair stays straight: code and scans set them so.
  EXPECT_EQ(readLine({"\"", "a", "\"", " ", open, "b", "\""}, false),
            "\"a\" " + open + "b" + close);
  // Pairs are the first and second marks, the third and fourth.
  EXPECT_EQ(readLine({"\"", "a", "\"", " ", "\"", "b", close}, false),
            "\"a\" " + open + "b" + close);
  // A lone mark has no partner to follow.
  EXPECT_EQ(readLine({open, "a", "b"}, false), open + "ab");
  EXPECT_EQ(readLine({"a", "b", "\""}, false), "ab\"");
  // Chinese lines keep the marks as read.
  EXPECT_EQ(readLine({"中", open, "a", "\""}, false), "中" + open + "a\"");
}

TEST(CTCDecoderQuotes, ACurlyQuoteIsSetApartFromTheWordBeforeAndAfterIt) {
  const std::string open = "\u201c";
  const std::string close = "\u201d";
  EXPECT_EQ(readLine({"a", open, "b", "c", close, "d"}, true), "a " + open + "bc" + close + " d");
  EXPECT_EQ(readLine({"1", open, "b", close, "5"}, true), "1 " + open + "b" + close + " 5");
  // Inside the quote, and before punctuation, the marks stay tight.
  EXPECT_EQ(readLine({"a", " ", open, "b", close, "."}, true), "a " + open + "b" + close + ".");
  // The network's own space is not doubled.
  EXPECT_EQ(readLine({"a", open, "b", close, " ", "d"}, true), "a " + open + "b" + close + " d");
  // A Chinese line sets its quotes without spaces, Latin words in it too.
  EXPECT_EQ(readLine({"中", "a", open, "b", close, "d"}, true), "中a" + open + "b" + close + "d");
}

}  // namespace
}  // namespace brindlewox
