// Greedy CTC decoding of the recognition network's per-frame class
// probabilities into a line of text and its confidence. Class 0 is the CTC
// blank, classes 1..N are the dictionary's lines, class N+1 is a space.
// Plain arrays in, plain text out: no engine is needed to test it.
//
// Decoding is a series of passes over the symbols the greedy path emits:
// Han characters lost to the blank are restored, a lone letter in CJK text
// is read as the full-width mark it was, a full-width mark in Latin text as
// its ASCII form, letters and digits by the symbols around them, a line's
// leading dot as a bullet, word breaks the network left out are restored
// (by the cell in fixed-pitch text), and o is read as 0 in numbers. The decoder owns its dictionary
// and keeps nothing between lines: decoding is read-only.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brindlewox {

struct DecodedLine {
  std::string text;
  float confidence = 0;  // mean probability of the emitted characters; 0 when none
};

// A gap between two emitted symbols, with no space the network wrote beside
// it, where a space rule applies: what that rule weighed.
struct SpaceGap {
  enum class Rule {
    betweenScripts,   // Han beside a Latin letter or digit: "中文 and"
    clauseBeforeHan,  // a Latin word's clause mark, then Han: "English, 简体"
    betweenLatin,     // two Latin symbols, other than a number's separator and digit
    fixedPitch,       // two Latin symbols in a line set at a fixed pitch
    afterBullet,      // a list item's bullet and its first word: always a break
    besideQuote,      // a word and a curly quote opening after it or closing before it
  };
  Rule rule = Rule::betweenLatin;
  std::size_t next = 0;  // the symbol after the gap, in SpaceFigures::symbols
  int frames = 0;        // from the frame of the symbol before to this one's
  float evidence = 0;    // the space class's strongest probability in the frames weighed
  float needed = 0;      // what the evidence must exceed; above 1 where no break may be

  bool breaks() const { return evidence > needed; }
};

// The figures space restoration decides a line's breaks on.
struct SpaceFigures {
  // The emitted symbols as the earlier passes left them, the network's own
  // spaces included; a restored Han character in its traditional form.
  std::vector<std::string> symbols;
  std::optional<int> usualLetterGap;  // frames; unknown on a line with few letters
  std::optional<double> fixedPitch;   // frames per character, on a line set at a fixed pitch
  std::vector<SpaceGap> gaps;
};

class CTCDecoder {
 public:
  // `restoreSpaces` off keeps exactly the spaces the network emitted (for
  // measuring what the restoration gains).
  explicit CTCDecoder(std::vector<std::string> dictionary, bool restoreSpaces = true);

  std::size_t classCount() const { return dictionary_.size() + 2; }

  // Characters the network writes only in simplified form (软), by class,
  // with the traditional form it lacks (軟). Where such a character is the
  // likely runner-up in a gap between Han characters with room for one more,
  // the glyph was that traditional form, lost to the blank: it is restored
  // in that form. Without them nothing is restored.
  void restoreUnknownTraditional(std::map<std::size_t, std::string> forms) {
    unknownTraditional_ = std::move(forms);
  }

  // `probabilities` holds `frames` rows of classCount() values each.
  DecodedLine decode(const float* probabilities, int frames) const;

  // What space restoration weighs on the same rows, for studying its rules on
  // real pages: decode() sets a space before symbols[gap.next] exactly where
  // gap.breaks(), when restoring spaces. Figured whether or not it does.
  SpaceFigures spaceFigures(const float* probabilities, int frames) const;

 private:
  // A symbol of the greedy path: its class and the frame that emitted it.
  struct Emitted {
    std::size_t classIndex;
    int frame;
    float probability;
    bool restored = false;  // a traditional form the dictionary lacks, restored from a gap
  };

  // The passes, in the order decode() runs them.
  std::vector<Emitted> greedyPath(const float* probabilities, int frames) const;
  void restoreDroppedHan(std::vector<Emitted>& emitted, const float* probabilities) const;
  void readLoneLettersAsFullWidthMarks(std::vector<Emitted>& emitted,
                                       const float* probabilities) const;
  void readFullWidthMarksInLatinTextAsAscii(std::vector<Emitted>& emitted) const;
  void readLettersAndDigitsByContext(std::vector<Emitted>& emitted,
                                     const float* probabilities) const;
  void readLeadingDotAsBullet(std::vector<Emitted>& emitted) const;
  void readQuotePairsAlike(std::vector<Emitted>& emitted) const;
  std::string withRestoredSpaces(const std::vector<Emitted>& emitted,
                                 const float* probabilities) const;
  static void readLetterOAsZeroInNumbers(std::string& text);

  // A line's letter spacing, as space restoration weighs gaps against it.
  struct Spacing {
    std::optional<int> usualLetterGap;
    std::optional<double> fixedPitch;
    bool holdsHan = false;
  };
  Spacing spacingOf(const std::vector<Emitted>& emitted) const;
  bool holdsHan(const std::vector<Emitted>& emitted) const;

  // greedyPath() and the passes that change its symbols.
  std::vector<Emitted> emittedSymbols(const float* probabilities, int frames) const;
  std::optional<int> usualLetterGap(const std::vector<Emitted>& emitted) const;
  std::optional<double> fixedPitch(const std::vector<Emitted>& emitted) const;
  std::optional<int> runLetterGap(const std::vector<Emitted>& emitted, std::size_t next) const;
  // The gap before emitted[next], if a space rule applies there.
  std::optional<SpaceGap> weighGap(const std::vector<Emitted>& emitted, std::size_t next,
                                   const float* probabilities, const Spacing& spacing) const;
  // Whether a curly quote opens right after a word at emitted[next] or closes right before it.
  bool quoteBesideWord(const std::vector<Emitted>& emitted, std::size_t next) const;
  std::optional<std::size_t> classOf(const std::string& symbol) const;
  // The likeliest class other than the blank and `emitted`'s own in its frame.
  std::size_t runnerUp(const Emitted& emitted, const float* probabilities) const;
  std::string symbol(std::size_t classIndex) const;   // the class's own symbol
  std::string written(const Emitted& emitted) const;  // what the text shows for it

  std::vector<std::string> dictionary_;
  bool restoreSpaces_;
  std::vector<std::size_t>
      fullWidthPunctuation_;  // their classes, for reading a lone mark in CJK text
  std::map<std::size_t, std::string> unknownTraditional_;
  std::vector<std::pair<std::size_t, std::size_t>>
      fullWidthToAscii_;                        // classes of marks and their ASCII forms
  std::map<std::string, std::size_t> classes_;  // each symbol's class
  // A letter and the digit it is confused with, and their classes.
  struct LookAlike {
    char letter;
    char digit;
    std::size_t letterClass;
    std::size_t digitClass;
  };
  std::vector<LookAlike> lookAlikes_;
};

}  // namespace brindlewox
