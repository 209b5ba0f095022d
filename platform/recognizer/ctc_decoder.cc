#include "platform/recognizer/ctc_decoder.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <utility>

#include "platform/recognizer/utf8.h"

namespace brindlewox {

namespace {

// Where the network left out a word break, the space class's probability in
// the frames around the gap decides whether to restore it.
struct SpaceRestorationSettings {
  // A space-class probability above this between a Han character and a Latin
  // letter or digit marks a break the model did not emit ("中文 and").
  float betweenScripts = 0.01F;
  // After a Latin word's comma or colon, before Han: the sample's "English,
  // 简体中文" has 0.0045 in the frames between; generated lines with a comma
  // set tight against Han ("vim,而", "APT,然后") get no space at this level.
  float clauseBeforeHan = 0.002F;

  // Between two Latin symbols, the space evidence a break the model did not
  // emit needs depends on how the gap compares with the line's usual gap
  // between letters (its median, in frames): a gap no wider than usual is
  // inside a word unless the evidence is strong, a wider one needs less, and a
  // narrower one is never a break. On real scans a fixed 0.01 split words at
  // wide or unevenly printed letters, while tightly set pages need faint
  // evidence at wide gaps, and a space between two narrow letters ("report
  // for" at 24 pixels) is only one frame wider than usual (chosen with
  // bench/studies/word_breaks.py on the tuning scans and the generated pages).
  float atUsualGap = 0.1F;
  float oneFrameWider = 0.02F;
  float wider = 0.01F;  // also after a clause mark, whatever the gap
  // Below this many letter gaps the line's spacing is not known.
  std::size_t gapsForUsualSpacing = 4;
  float spacingUnknown = 0.03F;

  // After . , ; or : before a letter, a gap wider than the line's usual one
  // is the space English sets there ("taken.The", "block,a"): a stop or comma
  // is narrow, so without a space the gap after it is narrower than usual.
  // A stop only before a capital: before a small letter it is a name's dot
  // ("hostname.domain", "popular.com").
  float markAtWiderGap = 0.001F;

  // Fixed-pitch text (code, terminal output) sets every character in a cell
  // of the same width, so letter gaps are wide and even and a space is a
  // whole empty cell: a gap of about two pitches. Taking a wide letter gap
  // for a break split "sys temd". A line is fixed-pitch when the gaps beside
  // narrow symbols (i, l, .) are as wide as the others; in proportional type
  // they are about three quarters as wide.
  std::size_t gapsForPitch = 8;
  std::size_t narrowGapsForPitch = 3;
  double evenPitch = 0.9;      // narrow gaps' mean over the others' at least this
  double emptyCell = 1.5;      // a break's gap, in pitches
  float inEmptyCell = 0.001F;  // the evidence such a gap needs
  // Fixed-pitch throughout: this share of the line's letter gaps (its breaks
  // left out) is the pitch rounded down or up. In a photographed page the
  // gaps wander with the perspective and the print ("decomposes Vk, Ak and
  // Bk", at 2 to 4 frames a letter, read as fixed-pitch lost its spaces);
  // a fixed-pitch line on the tuning pages holds 0.9 or more.
  double onPitch = 0.9;
  // And its spaces are whole cells: from the letter before a space the
  // network wrote to the one after is two pitches, where proportional type
  // (whose gaps at a coarse pitch of about 3 frames can look as even) has
  // about one and a half. The tuning pages' fixed-pitch lines span 1.9 to
  // 2.5 pitches, their prose and the generated serif pages 1.2 to 1.75. A
  // line with no space of its own is not known to be fixed-pitch.
  double spaceInPitches = 1.8;
  // A fixed-pitch word inside proportional text: its own letter gaps no more
  // than a frame apart ("sys temd" at 3 and 4 frames, where the prose has 2);
  // a proportional word that happens to be set wide ("that Bree" in a photo)
  // spreads from 1 to 5.
  int runSpread = 1;
  // Space evidence this strong is a break wherever the proportional rule
  // takes it, even inside a word judged fixed-pitch: on the tuning pages a
  // word at a fixed pitch had at most 0.19 at the gaps it must not break,
  // spaces refused there up to 0.47.
  float strongInRun = 0.2F;
};
constexpr SpaceRestorationSettings kSpaceRestoration{};
// Above any probability: the evidence needed where there is never a break.
constexpr float kNoBreak = 2.0F;

// The full-width marks that a CJK line's punctuation is read as, and how
// likely one must be, as a close candidate of a lone Latin letter or dot, to
// be taken instead ("请准时参加。" read "c" with 。 at 0.06).
constexpr const char* kFullWidthPunctuation[] = {"。", "，", "、", "：", "；",
                                                 "！", "？", "）", "」", "》"};
constexpr float kCloseCandidate = 0.03F;

// Full-width marks a Latin line's punctuation is misread as ("for（var",
// "int，b"), with the ASCII form the text meant.
constexpr std::pair<const char*, const char*> kFullWidthAscii[] = {
    {"（", "("}, {"）", ")"}, {"，", ","}, {"：", ":"}, {"；", ";"}, {"？", "?"}};

// A digit read as a letter ("T16" as "Ti6") or a letter as a digit: the
// confusable pairs, and how likely the other reading must be, as the frame's
// runner-up, to be taken: a strong second reading, not a trace of one. In
// "twelve 1b" (a misread "16") the 1 had l at 0.045 and read "lb"; where the
// letter was right ("DIS", "full") it had 0.1 to 0.48.
constexpr std::pair<char, char> kLookAlikes[] = {
    {'l', '1'}, {'i', '1'}, {'I', '1'}, {'o', '0'}, {'O', '0'}};
constexpr float kRunnerUpAgrees = 0.1F;

// A traditional character the network knows only in simplified form (軟 as
// 软, 編 as 编) often loses its frame to the blank, with the simplified form
// the runner-up there: "軟體包" came out "體包" with 软 at 0.11.
constexpr float kDroppedHan = 0.05F;
// A gap has room for another character when it is this many times the
// line's usual distance between Han characters.
constexpr double kRoomForACharacter = 1.6;

bool isHan(const std::string& symbol) {
  const char32_t code = utf8::codePoint(symbol);
  return (code >= 0x3400 && code <= 0x9FFF) || (code >= 0xF900 && code <= 0xFAFF);
}

// Han characters and the CJK and full-width punctuation blocks.
bool isCJK(const std::string& symbol) {
  const char32_t code = utf8::codePoint(symbol);
  return isHan(symbol) || (code >= 0x3000 && code <= 0x303F) || (code >= 0xFF00 && code <= 0xFFEF);
}

bool isLatinLetter(const std::string& symbol) {
  if (symbol.size() != 1) return false;
  const char c = symbol[0];
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiAlphanumeric(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isLatinLetterOrDigit(const std::string& symbol) {
  return symbol.size() == 1 && isAsciiAlphanumeric(symbol[0]);
}

// Marks that English follows with a space before the next word.
bool isClausePunctuation(const std::string& symbol) {
  return symbol == "," || symbol == ";" || symbol == ":" || symbol == "!" || symbol == "?" ||
         symbol == ")";
}

bool isDigit(const std::string& symbol) {
  return symbol.size() == 1 && symbol[0] >= '0' && symbol[0] <= '9';
}

// Narrow in proportional type, a full cell in fixed-pitch type.
bool isNarrow(const std::string& symbol) {
  return symbol.size() == 1 &&
         std::string_view("ijlrtfI1.,;:'!|()[]`").find(symbol[0]) != std::string_view::npos;
}

// The round dots a list's bullet is read as.
bool isBulletDot(const std::string& symbol) {
  return symbol == "·" || symbol == "•";
}

bool isCapital(const std::string& symbol) {
  return symbol.size() == 1 && symbol[0] >= 'A' && symbol[0] <= 'Z';
}

// Marks after which English sets a space before the next word.
bool isSentenceOrClauseMark(const std::string& symbol) {
  return symbol == "." || symbol == "," || symbol == ";" || symbol == ":";
}

// Printable ASCII other than the space: letters, digits and punctuation.
bool isLatinSymbol(const std::string& symbol) {
  return symbol.size() == 1 && symbol[0] > ' ' && symbol[0] < 0x7F;
}

// One line's rows: each holds the blank, the dictionary's symbols and the space.
const float* rowAt(const float* probabilities, std::size_t classes, int frame) {
  return probabilities + static_cast<std::size_t>(frame) * classes;
}

// The space class's strongest probability in frames `from` to `to`.
float spaceProbability(const float* probabilities, std::size_t classes, int from, int to) {
  float most = 0;
  for (int frame = from; frame <= to; ++frame)
    most = std::max(most, rowAt(probabilities, classes, frame)[classes - 1]);
  return most;
}

// The space evidence a break the network left out needs between two Latin
// symbols `gap` frames apart.
float evidenceNeeded(int gap, std::optional<int> usualGap, bool afterClause,
                     const SpaceRestorationSettings& settings) {
  // "117: total": a clause mark is narrow, so the frame gap after it says
  // little, and English nearly always sets a space there.
  if (afterClause) return settings.wider;
  if (!usualGap) return settings.spacingUnknown;
  const int wider = gap - *usualGap;
  if (wider < 0) return kNoBreak;
  if (wider == 0) return settings.atUsualGap;
  if (wider == 1) return settings.oneFrameWider;
  return settings.wider;
}

int median(std::vector<int> values) {
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

}  // namespace

CTCDecoder::CTCDecoder(std::vector<std::string> dictionary, bool restoreSpaces)
    : dictionary_(std::move(dictionary)), restoreSpaces_(restoreSpaces) {
  for (const char* mark : kFullWidthPunctuation) {
    const auto found = std::find(dictionary_.begin(), dictionary_.end(), mark);
    if (found != dictionary_.end())
      fullWidthPunctuation_.push_back(static_cast<std::size_t>(found - dictionary_.begin()) + 1);
  }
  for (std::size_t i = 0; i < dictionary_.size(); ++i) classes_.emplace(dictionary_[i], i + 1);
  for (const auto& [mark, ascii] : kFullWidthAscii) {
    const std::optional<std::size_t> from = classOf(mark);
    const std::optional<std::size_t> to = classOf(ascii);
    if (from && to) fullWidthToAscii_.emplace_back(*from, *to);
  }
  for (const auto& [letter, digit] : kLookAlikes) {
    const std::optional<std::size_t> letterClass = classOf(std::string(1, letter));
    const std::optional<std::size_t> digitClass = classOf(std::string(1, digit));
    if (letterClass && digitClass)
      lookAlikes_.push_back({letter, digit, *letterClass, *digitClass});
  }
}

std::optional<std::size_t> CTCDecoder::classOf(const std::string& symbol) const {
  const auto found = classes_.find(symbol);
  if (found == classes_.end()) return std::nullopt;
  return found->second;
}

DecodedLine CTCDecoder::decode(const float* probabilities, int frames) const {
  const std::vector<Emitted> emitted = emittedSymbols(probabilities, frames);
  DecodedLine line;
  line.text = withRestoredSpaces(emitted, probabilities);
  readLetterOAsZeroInNumbers(line.text);
  float sum = 0;
  for (const Emitted& e : emitted) sum += e.probability;
  if (!emitted.empty()) line.confidence = sum / static_cast<float>(emitted.size());
  return line;
}

SpaceFigures CTCDecoder::spaceFigures(const float* probabilities, int frames) const {
  const std::vector<Emitted> emitted = emittedSymbols(probabilities, frames);
  SpaceFigures figures;
  const Spacing spacing = spacingOf(emitted);
  figures.usualLetterGap = spacing.usualLetterGap;
  figures.fixedPitch = spacing.fixedPitch;
  for (std::size_t i = 0; i < emitted.size(); ++i) {
    figures.symbols.push_back(written(emitted[i]));
    if (const std::optional<SpaceGap> gap = weighGap(emitted, i, probabilities, spacing)) {
      figures.gaps.push_back(*gap);
    }
  }
  return figures;
}

std::vector<CTCDecoder::Emitted> CTCDecoder::emittedSymbols(const float* probabilities,
                                                            int frames) const {
  std::vector<Emitted> emitted = greedyPath(probabilities, frames);
  restoreDroppedHan(emitted, probabilities);
  readLoneLettersAsFullWidthMarks(emitted, probabilities);
  readFullWidthMarksInLatinTextAsAscii(emitted);
  readLettersAndDigitsByContext(emitted, probabilities);
  readLeadingDotAsBullet(emitted);
  readQuotePairsAlike(emitted);
  return emitted;
}

// The likeliest class of each frame, repeats collapsed and blanks dropped.
std::vector<CTCDecoder::Emitted> CTCDecoder::greedyPath(const float* probabilities,
                                                        int frames) const {
  const std::size_t classes = classCount();
  std::vector<Emitted> emitted;
  std::size_t previous = 0;
  for (int frame = 0; frame < frames; ++frame) {
    const float* row = rowAt(probabilities, classes, frame);
    const auto best = static_cast<std::size_t>(std::max_element(row, row + classes) - row);
    if (best != 0 && best != previous) emitted.push_back({best, frame, row[best]});
    previous = best;
  }
  return emitted;
}

// Restores, in each gap between Han characters with room for one more, the
// likeliest of the unknown traditional forms' stand-ins.
void CTCDecoder::restoreDroppedHan(std::vector<Emitted>& emitted,
                                   const float* probabilities) const {
  if (emitted.empty() || unknownTraditional_.empty()) return;
  const std::size_t classes = classCount();
  auto han = [&](std::size_t classIndex) {
    return classIndex != 0 && classIndex <= dictionary_.size() &&
           isHan(dictionary_[classIndex - 1]);
  };
  std::vector<int> pitches;
  for (std::size_t i = 0; i + 1 < emitted.size(); ++i) {
    if (han(emitted[i].classIndex) && han(emitted[i + 1].classIndex)) {
      pitches.push_back(emitted[i + 1].frame - emitted[i].frame);
    }
  }
  if (pitches.size() < 3) return;
  const int pitch = median(pitches);
  if (pitch < 2) return;
  std::vector<Emitted> restored;
  for (std::size_t i = 0; i + 1 < emitted.size(); ++i) {
    restored.push_back(emitted[i]);
    const int from = emitted[i].frame;
    const int to = emitted[i + 1].frame;
    const bool room = to - from >= kRoomForACharacter * pitch;
    if (!han(emitted[i].classIndex) || !han(emitted[i + 1].classIndex) || !room) continue;
    // The likeliest candidate in the frames well inside the gap.
    Emitted best{0, 0, kDroppedHan, true};
    for (int frame = from + pitch / 2; frame <= to - pitch / 2; ++frame) {
      const float* row = rowAt(probabilities, classes, frame);
      for (const auto& [c, form] : unknownTraditional_) {
        // A neighbour's own class spills into the gap; it is not a second character.
        const bool neighbour = c == emitted[i].classIndex || c == emitted[i + 1].classIndex;
        if (c < classes && row[c] >= best.probability && !neighbour)
          best = {c, frame, row[c], true};
      }
    }
    if (best.classIndex != 0) restored.push_back(best);
  }
  restored.push_back(emitted.back());
  emitted = std::move(restored);
}

// A lone Latin letter after a CJK character, before another or at the line's
// end, is a full-width mark the network misread, when that mark is a close
// candidate in its frame. Not a lone dot or comma: Chinese pages set with
// half-width stops are common, and those dots are real.
void CTCDecoder::readLoneLettersAsFullWidthMarks(std::vector<Emitted>& emitted,
                                                 const float* probabilities) const {
  for (std::size_t i = 1; i < emitted.size(); ++i) {
    if (!isLatinLetter(symbol(emitted[i].classIndex)) || !isCJK(symbol(emitted[i - 1].classIndex)))
      continue;
    if (i + 1 < emitted.size() && !isCJK(symbol(emitted[i + 1].classIndex))) continue;
    const float* row = rowAt(probabilities, classCount(), emitted[i].frame);
    std::size_t best = 0;
    for (const std::size_t mark : fullWidthPunctuation_) {
      if (row[mark] >= kCloseCandidate && (best == 0 || row[mark] > row[best])) best = mark;
    }
    if (best != 0) emitted[i].classIndex = best;
  }
}

// A full-width bracket, comma, colon, semicolon or question mark whose
// nearest symbols on both sides (past spaces) are Latin is punctuation of
// Latin text ("for（var", "int，b"): written in ASCII. Beside Han, where these
// forms are the rule, nothing changes; nor at the line's edge, where a
// Chinese list opens with "（1）"; nor anywhere on a line that holds Han.
void CTCDecoder::readFullWidthMarksInLatinTextAsAscii(std::vector<Emitted>& emitted) const {
  const std::size_t spaceClass = classCount() - 1;
  // The nearest symbol other than a space from `i` in `step`: Latin, something else, or none.
  enum class Side { latin, other, edge };
  auto side = [&](std::size_t i, std::ptrdiff_t step) {
    for (auto j = static_cast<std::ptrdiff_t>(i) + step;
         j >= 0 && j < static_cast<std::ptrdiff_t>(emitted.size()); j += step) {
      const Emitted& neighbour = emitted[static_cast<std::size_t>(j)];
      if (neighbour.classIndex == spaceClass) continue;
      return isLatinSymbol(written(neighbour)) ? Side::latin : Side::other;
    }
    return Side::edge;
  };
  // A line that holds Han is Chinese text, or English quoted in it, whose
  // brackets are full-width by choice ("Who is（are）in"): all stay.
  if (holdsHan(emitted)) return;
  for (std::size_t i = 0; i < emitted.size(); ++i) {
    const auto mark =
        std::find_if(fullWidthToAscii_.begin(), fullWidthToAscii_.end(),
                     [&](const auto& pair) { return pair.first == emitted[i].classIndex; });
    if (mark == fullWidthToAscii_.end() || emitted[i].restored) continue;
    const Side before = side(i, -1);
    const Side after = side(i, 1);
    if (before != Side::latin || after != Side::latin) continue;
    // A comma, colon or semicolon inside a token ("int，b:") is set as
    // tight after as before. One with a gap after it wider than that is
    // punctuation before a word, which on these pages was as often a
    // full-width mark typed in an English sentence ("each other's，one")
    // as a comma and its space misread.
    const std::string ascii = symbol(mark->second);
    if (ascii == "," || ascii == ":" || ascii == ";") {
      const bool tight =
          i > 0 && i + 1 < emitted.size() && emitted[i - 1].classIndex != spaceClass &&
          emitted[i + 1].classIndex != spaceClass &&
          emitted[i + 1].frame - emitted[i].frame <= emitted[i].frame - emitted[i - 1].frame + 1;
      if (!tight) continue;
    }
    emitted[i].classIndex = mark->second;
  }
}

// Letters and digits that look alike, read by their neighbours: l, i or I
// between two digits is a 1 ("1l5"), as o between digits is a 0. The other
// way round, context alone is weak ("mp3", "x86" mix them on purpose), so a
// digit between letters is a letter only where the network's own runner-up
// in its frame is that letter. A letter beside one digit stays: the next
// word may start with a digit ("total 3" read "tota1 3" when it did not).
void CTCDecoder::readLettersAndDigitsByContext(std::vector<Emitted>& emitted,
                                               const float* probabilities) const {
  auto at = [&](std::size_t i) {
    return i < emitted.size() ? symbol(emitted[i].classIndex) : std::string();
  };
  for (std::size_t i = 0; i < emitted.size(); ++i) {
    const std::string current = at(i);
    if (current.size() != 1) continue;
    const std::string before = i > 0 ? at(i - 1) : std::string();
    const std::string after = at(i + 1);
    for (const LookAlike& pair : lookAlikes_) {
      const float* row = rowAt(probabilities, classCount(), emitted[i].frame);
      const auto runnerUpIs = [&](std::size_t c) {
        return runnerUp(emitted[i], probabilities) == c && row[c] >= kRunnerUpAgrees;
      };
      if (current[0] == pair.letter) {
        // o between digits is left to readLetterOAsZeroInNumbers(), which sees whole words.
        if (isDigit(before) && isDigit(after) && pair.digit == '1')
          emitted[i].classIndex = pair.digitClass;
        break;
      }
      if (current[0] == pair.digit && isLatinLetter(before) && isLatinLetter(after) &&
          runnerUpIs(pair.letterClass)) {
        emitted[i].classIndex = pair.letterClass;
        break;
      }
    }
  }
}

std::size_t CTCDecoder::runnerUp(const Emitted& emitted, const float* probabilities) const {
  const float* row = rowAt(probabilities, classCount(), emitted.frame);
  std::size_t best = 0;
  for (std::size_t c = 1; c < classCount(); ++c) {
    if (c != emitted.classIndex && (best == 0 || row[c] > row[best])) best = c;
  }
  return best;
}

// A round dot that opens a line is a list's bullet, whatever dot the network
// took it for ("·White"); withRestoredSpaces() sets its space.
void CTCDecoder::readLeadingDotAsBullet(std::vector<Emitted>& emitted) const {
  const std::optional<std::size_t> bullet = classOf("•");
  if (emitted.size() < 2 || !bullet || !isBulletDot(symbol(emitted[0].classIndex))) return;
  emitted[0].classIndex = *bullet;
}

// The network knows the curly quotation marks but reads most of them as the
// straight one; typeset text came out as "“By hand" numbering". Where one
// mark of a pair (the line's first and second double quote, third and
// fourth, ...) is curly, the other is made the curly mark of its place. A
// pair of straight marks stays: a straight mark's own frames do not tell a
// curly glyph from a straight one (scanned straight quotes show as much
// curly probability as typeset curly ones). Chinese lines keep what was read.
void CTCDecoder::readQuotePairsAlike(std::vector<Emitted>& emitted) const {
  const std::optional<std::size_t> opening = classOf("\u201c");
  const std::optional<std::size_t> closing = classOf("\u201d");
  const std::optional<std::size_t> straight = classOf("\"");
  if (!opening || !closing || !straight) return;
  std::vector<Emitted*> marks;
  for (Emitted& e : emitted) {
    if (e.classIndex == *opening || e.classIndex == *closing || e.classIndex == *straight) {
      marks.push_back(&e);
    }
  }
  // Most lines hold no pair: the line's script is looked at only for those that do.
  if (marks.size() < 2 || holdsHan(emitted)) return;
  for (std::size_t i = 0; i + 1 < marks.size(); i += 2) {
    Emitted& first = *marks[i];
    Emitted& second = *marks[i + 1];
    if (first.classIndex == *straight && second.classIndex != *straight) {
      first.classIndex = *opening;
    } else if (second.classIndex == *straight && first.classIndex != *straight) {
      second.classIndex = *closing;
    }
  }
}

// The line's text, with a space wherever weighGap() finds a break the network
// left out, when restoring spaces.
std::string CTCDecoder::withRestoredSpaces(const std::vector<Emitted>& emitted,
                                           const float* probabilities) const {
  Spacing spacing;
  if (restoreSpaces_) spacing = spacingOf(emitted);
  std::string text;
  for (std::size_t i = 0; i < emitted.size(); ++i) {
    if (restoreSpaces_) {
      const std::optional<SpaceGap> gap = weighGap(emitted, i, probabilities, spacing);
      if (gap && gap->breaks()) text += ' ';
    }
    text += written(emitted[i]);
  }
  return text;
}

// The line's usual gap between neighbouring letters or digits, in frames.
std::optional<int> CTCDecoder::usualLetterGap(const std::vector<Emitted>& emitted) const {
  std::vector<int> letterGaps;
  for (std::size_t i = 0; i + 1 < emitted.size(); ++i) {
    if (isLatinLetterOrDigit(symbol(emitted[i].classIndex)) &&
        isLatinLetterOrDigit(symbol(emitted[i + 1].classIndex))) {
      letterGaps.push_back(emitted[i + 1].frame - emitted[i].frame);
    }
  }
  if (letterGaps.size() < kSpaceRestoration.gapsForUsualSpacing) return std::nullopt;
  return median(letterGaps);
}

CTCDecoder::Spacing CTCDecoder::spacingOf(const std::vector<Emitted>& emitted) const {
  return {usualLetterGap(emitted), fixedPitch(emitted), holdsHan(emitted)};
}

bool CTCDecoder::holdsHan(const std::vector<Emitted>& emitted) const {
  return std::any_of(emitted.begin(), emitted.end(),
                     [&](const Emitted& e) { return isHan(written(e)); });
}

// The line's character pitch in frames, when it is set at a fixed pitch:
// the mean gap between neighbouring Latin symbols (a space's double gaps
// left out), where the gaps beside narrow symbols are as wide as the rest.
std::optional<double> CTCDecoder::fixedPitch(const std::vector<Emitted>& emitted) const {
  std::vector<std::pair<int, bool>> gaps;  // frames, and whether beside a narrow symbol
  for (std::size_t i = 0; i + 1 < emitted.size(); ++i) {
    const std::string a = symbol(emitted[i].classIndex);
    const std::string b = symbol(emitted[i + 1].classIndex);
    if (isLatinSymbol(a) && isLatinSymbol(b)) {
      gaps.emplace_back(emitted[i + 1].frame - emitted[i].frame, isNarrow(a) || isNarrow(b));
    }
  }
  const SpaceRestorationSettings& settings = kSpaceRestoration;
  if (gaps.size() < settings.gapsForPitch) return std::nullopt;
  std::vector<int> widths;
  for (const auto& gap : gaps) widths.push_back(gap.first);
  const int usual = median(widths);
  double narrowSum = 0;
  double otherSum = 0;
  std::size_t narrowCount = 0;
  std::size_t otherCount = 0;
  for (const auto& [frames, narrow] : gaps) {
    if (frames > settings.emptyCell * usual) continue;  // a space the network did not write
    (narrow ? narrowSum : otherSum) += frames;
    ++(narrow ? narrowCount : otherCount);
  }
  if (narrowCount < settings.narrowGapsForPitch || otherCount < settings.narrowGapsForPitch)
    return std::nullopt;
  const double narrowMean = narrowSum / static_cast<double>(narrowCount);
  const double otherMean = otherSum / static_cast<double>(otherCount);
  if (narrowMean < settings.evenPitch * otherMean) return std::nullopt;
  const double pitch = (narrowSum + otherSum) / static_cast<double>(narrowCount + otherCount);
  std::size_t letterGaps = 0;
  std::size_t onPitch = 0;
  for (const auto& gap : gaps) {
    const int frames = gap.first;
    if (frames > settings.emptyCell * usual) continue;
    ++letterGaps;
    if (frames >= std::floor(pitch) && frames <= std::ceil(pitch)) ++onPitch;
  }
  if (static_cast<double>(onPitch) < settings.onPitch * static_cast<double>(letterGaps))
    return std::nullopt;
  const std::size_t spaceClass = classCount() - 1;
  double spanSum = 0;
  std::size_t spaces = 0;
  for (std::size_t i = 1; i + 1 < emitted.size(); ++i) {
    if (emitted[i].classIndex == spaceClass && isLatinSymbol(symbol(emitted[i - 1].classIndex)) &&
        isLatinSymbol(symbol(emitted[i + 1].classIndex))) {
      spanSum += emitted[i + 1].frame - emitted[i - 1].frame;
      ++spaces;
    }
  }
  if (spaces == 0 || spanSum < settings.spaceInPitches * pitch * static_cast<double>(spaces))
    return std::nullopt;
  return pitch;
}

// The median gap between the letters or digits of the run around the gap
// before emitted[next] (up to four gaps each side, not past a space the
// network wrote), the gap itself left out, where those gaps are even enough
// for a fixed pitch; unknown with fewer than three.
std::optional<int> CTCDecoder::runLetterGap(const std::vector<Emitted>& emitted,
                                            std::size_t next) const {
  const auto letterGap = [&](std::size_t after) -> std::optional<int> {
    const std::string a = symbol(emitted[after - 1].classIndex);
    const std::string b = symbol(emitted[after].classIndex);
    if (!isLatinLetterOrDigit(a) || !isLatinLetterOrDigit(b)) return std::nullopt;
    return emitted[after].frame - emitted[after - 1].frame;
  };
  const std::size_t spaceClass = classCount() - 1;
  std::vector<int> gaps;
  for (std::size_t i = next - 1, n = 0; i >= 1 && n < 4 && emitted[i].classIndex != spaceClass;
       --i, ++n) {
    if (const std::optional<int> gap = letterGap(i)) gaps.push_back(*gap);
  }
  for (std::size_t i = next + 1, n = 0;
       i < emitted.size() && n < 4 && emitted[i].classIndex != spaceClass; ++i, ++n) {
    if (const std::optional<int> gap = letterGap(i)) gaps.push_back(*gap);
  }
  if (gaps.size() < 3) return std::nullopt;
  const auto [narrowest, widest] = std::minmax_element(gaps.begin(), gaps.end());
  if (*widest - *narrowest > kSpaceRestoration.runSpread) return std::nullopt;
  return median(gaps);
}

std::optional<SpaceGap> CTCDecoder::weighGap(const std::vector<Emitted>& emitted, std::size_t next,
                                             const float* probabilities,
                                             const Spacing& spacing) const {
  if (next == 0) return std::nullopt;
  const std::size_t classes = classCount();
  const std::size_t spaceClass = classes - 1;
  const auto isSpace = [&](std::size_t i) {
    return i < emitted.size() && emitted[i].classIndex == spaceClass;
  };
  // A gap that is a break whatever the evidence.
  const auto certainBreak = [&](SpaceGap::Rule rule) {
    SpaceGap gap;
    gap.rule = rule;
    gap.next = next;
    gap.frames = emitted[next].frame - emitted[next - 1].frame;
    gap.evidence =
        spaceProbability(probabilities, classes, emitted[next - 1].frame, emitted[next].frame);
    gap.needed = -1.0F;
    return gap;
  };
  // "• White": a list item's first word is set apart from its bullet.
  if (next == 1 && symbol(emitted[0].classIndex) == "•" && !isSpace(next)) {
    return certainBreak(SpaceGap::Rule::afterBullet);
  }
  // "where“bibfile”is": in English a curly quote opens after a word's space
  // and closes before one; the network's frames beside the mark give the
  // space little probability. Chinese sets its quotes without spaces.
  if (!spacing.holdsHan && quoteBesideWord(emitted, next)) {
    return certainBreak(SpaceGap::Rule::besideQuote);
  }
  // A frame that emits a letter beside a space the network wrote carries
  // some of that space's probability too: no second break beside it.
  if ((next >= 2 && isSpace(next - 2)) || isSpace(next + 1)) return std::nullopt;

  // A restored Han character is weighed as its written form after the gap and
  // as its stand-in before it; both are Han.
  const std::string current = written(emitted[next]);
  const std::string previous = symbol(emitted[next - 1].classIndex);
  const std::string beforePrevious =
      next >= 2 ? symbol(emitted[next - 2].classIndex) : std::string();
  SpaceGap gap;
  gap.next = next;
  const int from = emitted[next - 1].frame;
  const int to = emitted[next].frame;
  gap.frames = to - from;
  // "中文and繁體": a Latin word set off from CJK text by a space the network left out.
  const bool betweenScripts = (isHan(previous) && isLatinLetterOrDigit(current)) ||
                              (isLatinLetterOrDigit(previous) && isHan(current));
  // "1,000", "12.99", "13:02": a number's separators are not breaks.
  const bool insideNumber = isDigit(current) &&
                            (previous == "." || previous == "," || previous == ":") &&
                            isDigit(beforePrevious);
  // "English, 简体": English punctuation after a Latin word is followed by
  // a space, and the network gives it only faint evidence before Han.
  const bool clauseBeforeHan =
      isHan(current) && isClausePunctuation(previous) && isLatinLetter(beforePrevious);
  if (clauseBeforeHan) {
    gap.rule = SpaceGap::Rule::clauseBeforeHan;
    gap.evidence = spaceProbability(probabilities, classes, from, to);
    gap.needed = kSpaceRestoration.clauseBeforeHan;
  } else if (betweenScripts) {
    gap.rule = SpaceGap::Rule::betweenScripts;
    gap.evidence = spaceProbability(probabilities, classes, from, to);
    gap.needed = kSpaceRestoration.betweenScripts;
  } else if (isLatinSymbol(previous) && isLatinSymbol(current) && !insideNumber) {
    // Only the frames between the two symbols: each symbol's own frame
    // carries space probability wherever it ends a word on either side.
    gap.evidence =
        to - from >= 2 ? spaceProbability(probabilities, classes, from + 1, to - 1) : 0.0F;
    const SpaceRestorationSettings& settings = kSpaceRestoration;
    if (spacing.fixedPitch) {
      gap.rule = SpaceGap::Rule::fixedPitch;
      gap.needed =
          gap.frames >= settings.emptyCell * *spacing.fixedPitch ? settings.inEmptyCell : kNoBreak;
      return gap;
    }
    // A word in a fixed-pitch font inside proportional text ("sys temd",
    // "fnmat ch(3)") has wider letter gaps than the line's usual one: its own
    // run of letters is set at a fixed pitch, where a space is an empty cell.
    // Only between two letters: a number beside a word ("3,450.00 EUR") is
    // no fixed-pitch word. Strong evidence is left to the proportional rule.
    // Nor on a line that holds Han: its Latin words sit between full-width
    // characters whose frames make short words look evenly set ("Any two"
    // would join).
    const std::optional<int> run =
        !spacing.holdsHan && isLatinLetter(previous) && isLatinLetter(current)
            ? runLetterGap(emitted, next)
            : std::nullopt;
    if (run && spacing.usualLetterGap && *run > *spacing.usualLetterGap &&
        gap.evidence < settings.strongInRun) {
      gap.rule = SpaceGap::Rule::fixedPitch;
      gap.needed = gap.frames >= settings.emptyCell * *run ? settings.inEmptyCell : kNoBreak;
      return gap;
    }
    gap.rule = SpaceGap::Rule::betweenLatin;
    const bool afterClause = isClausePunctuation(previous) && isLatinLetter(current);
    gap.needed = evidenceNeeded(to - from, spacing.usualLetterGap, afterClause, settings);
    const bool wider = spacing.usualLetterGap && gap.frames > *spacing.usualLetterGap;
    const bool sentenceOrClause =
        isSentenceOrClauseMark(previous) && (previous != "." || isCapital(current));
    if (sentenceOrClause && isLatinLetter(current) && isLatinLetter(beforePrevious) && wider) {
      gap.needed = std::min(gap.needed, settings.markAtWiderGap);
    }
  } else {
    return std::nullopt;
  }
  return gap;
}

bool CTCDecoder::quoteBesideWord(const std::vector<Emitted>& emitted, std::size_t next) const {
  const std::string previous = symbol(emitted[next - 1].classIndex);
  const std::string current = symbol(emitted[next].classIndex);
  return (current == "\u201c" && isLatinLetterOrDigit(previous)) ||
         (previous == "\u201d" && isLatinLetterOrDigit(current));
}

std::string CTCDecoder::symbol(std::size_t classIndex) const {
  return classIndex == classCount() - 1 ? std::string(" ") : dictionary_[classIndex - 1];
}

std::string CTCDecoder::written(const Emitted& emitted) const {
  return emitted.restored ? unknownTraditional_.at(emitted.classIndex) : symbol(emitted.classIndex);
}

// The network reads a zero as the letter o now and then ("1o06", "9oo4").
// A word made only of digits and o's, with at least two digits, is a number.
void CTCDecoder::readLetterOAsZeroInNumbers(std::string& text) {
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
      std::replace_if(
          text.begin() + static_cast<std::ptrdiff_t>(start),
          text.begin() + static_cast<std::ptrdiff_t>(end),
          [](char c) { return c == 'o' || c == 'O'; }, '0');
    }
    start = end;
  }
}

}  // namespace brindlewox
