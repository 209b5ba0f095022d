#include "platform/recognizer/ctc_decoder.h"

#include <algorithm>
#include <utility>

namespace brindlewox {

namespace {

// A space-class probability above this anywhere between two letters or
// digits marks a word break the model did not emit. Chosen with
// space_restoration_bench on tightly set English pages (word error 62% with
// no restoration, 15% at 0.02, 10% here); at 0.005 it starts to split words
// with wide letters, such as "L EFT" in capitals.
constexpr float kSpaceEvidence = 0.01F;

// A frame gap this many times the line's usual letter gap is a word break.
constexpr int kWideGapFactor = 2;

struct Emitted {
  std::size_t classIndex;
  int frame;
  float probability;
};

bool isLatinLetter(const std::string& symbol) {
  if (symbol.size() != 1) return false;
  const char c = symbol[0];
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Punctuation that English follows with a space before the next word.
bool isClausePunctuation(const std::string& symbol) {
  return symbol == "," || symbol == ";" || symbol == ":" || symbol == "!" || symbol == "?" || symbol == ")";
}

bool isUppercaseLatin(const std::string& symbol) { return symbol.size() == 1 && symbol[0] >= 'A' && symbol[0] <= 'Z'; }

bool isLowercaseLatinOrDigit(const std::string& symbol) {
  return symbol.size() == 1 && ((symbol[0] >= 'a' && symbol[0] <= 'z') || (symbol[0] >= '0' && symbol[0] <= '9'));
}

bool isAsciiAlphanumeric(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool isLatinLetterOrDigit(const std::string& symbol) { return symbol.size() == 1 && isAsciiAlphanumeric(symbol[0]); }

// The network reads a zero as the letter o now and then ("1o06", "9oo4").
// A word made only of digits and o's, with at least two digits, is a number.
void readLetterOAsZeroInNumbers(std::string& text) {
  for (std::size_t start = 0; start < text.size();) {
    if (!isAsciiAlphanumeric(text[start])) {
      ++start;
      continue;
    }
    std::size_t end = start;
    int digits = 0;
    bool onlyDigitsAndO = true;
    for (; end < text.size() && isAsciiAlphanumeric(text[end]); ++end) {
      const char c = text[end];
      if (c >= '0' && c <= '9') {
        ++digits;
      } else if (c != 'o' && c != 'O') {
        onlyDigitsAndO = false;
      }
    }
    if (onlyDigitsAndO && digits >= 2) {
      std::replace_if(text.begin() + static_cast<std::ptrdiff_t>(start), text.begin() + static_cast<std::ptrdiff_t>(end),
                      [](char c) { return c == 'o' || c == 'O'; }, '0');
    }
    start = end;
  }
}

}  // namespace

CTCDecoder::CTCDecoder(std::vector<std::string> dictionary, bool restoreSpaces)
    : dictionary_(std::move(dictionary)), restoreSpaces_(restoreSpaces) {}

DecodedLine CTCDecoder::decode(const float* probabilities, int frames) const {
  const std::size_t classes = classCount();
  const std::size_t spaceClass = classes - 1;
  std::vector<Emitted> emitted;
  std::size_t previous = 0;
  for (int frame = 0; frame < frames; ++frame) {
    const float* row = probabilities + static_cast<std::size_t>(frame) * classes;
    const auto best = static_cast<std::size_t>(std::max_element(row, row + classes) - row);
    if (best != 0 && best != previous) emitted.push_back({best, frame, row[best]});
    previous = best;
  }

  auto symbol = [&](std::size_t classIndex) -> std::string {
    return classIndex == spaceClass ? std::string(" ") : dictionary_[classIndex - 1];
  };

  // The line's usual gap between neighbouring letters, in frames.
  std::vector<int> letterGaps;
  for (std::size_t i = 0; i + 1 < emitted.size(); ++i) {
    if (emitted[i].classIndex == spaceClass || emitted[i + 1].classIndex == spaceClass) continue;
    if (isLatinLetterOrDigit(symbol(emitted[i].classIndex)) && isLatinLetterOrDigit(symbol(emitted[i + 1].classIndex))) {
      letterGaps.push_back(emitted[i + 1].frame - emitted[i].frame);
    }
  }
  // A line where the network wrote spaces itself is not tightly set; there
  // the wide-gap signal only mistakes wide letters (m, w, M) for word breaks.
  const bool networkWroteSpaces = std::any_of(emitted.begin(), emitted.end(),
                                              [&](const Emitted& e) { return e.classIndex == spaceClass; });
  int usualGap = 0;
  if (letterGaps.size() >= 4 && !networkWroteSpaces) {
    std::nth_element(letterGaps.begin(), letterGaps.begin() + static_cast<std::ptrdiff_t>(letterGaps.size() / 2),
                     letterGaps.end());
    usualGap = letterGaps[letterGaps.size() / 2];
  }

  DecodedLine line;
  float sum = 0;
  for (std::size_t i = 0; i < emitted.size(); ++i) {
    const std::string current = symbol(emitted[i].classIndex);
    const std::string previousSymbol = i > 0 ? symbol(emitted[i - 1].classIndex) : std::string();
    const bool betweenWords = isLatinLetterOrDigit(current) && isLatinLetterOrDigit(previousSymbol);
    const bool afterClause = isLatinLetter(current) && isClausePunctuation(previousSymbol);
    // "each.Work" and "9843.Do", but not the "U.S" of an abbreviation.
    const bool afterSentence = isUppercaseLatin(current) && previousSymbol == "." && i >= 2 &&
                               isLowercaseLatinOrDigit(symbol(emitted[i - 2].classIndex));
    if (restoreSpaces_ && (betweenWords || afterClause || afterSentence)) {
      const int from = emitted[i - 1].frame;
      const int to = emitted[i].frame;
      float spaceProbability = 0;
      for (int frame = from; frame <= to; ++frame) {
        spaceProbability =
            std::max(spaceProbability, probabilities[static_cast<std::size_t>(frame) * classes + spaceClass]);
      }
      const bool wideGap = betweenWords && usualGap >= 2 && to - from >= kWideGapFactor * usualGap;
      if (spaceProbability > kSpaceEvidence || wideGap) line.text += ' ';
    }
    line.text += current;
    sum += emitted[i].probability;
  }
  readLetterOAsZeroInNumbers(line.text);
  if (!emitted.empty()) line.confidence = sum / static_cast<float>(emitted.size());
  return line;
}

}  // namespace brindlewox
