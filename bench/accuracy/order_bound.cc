// The best order our reading-order comparison allows on a real page: reads a
// page's ground-truth lines (a JSON list of {"left", "top", "right", "bottom",
// "text"} with the box normalised to the page, y down from the top), turns
// each into an observation with that exact box and confidence 1, puts them
// through the same assembly as the recogniser's output (reading order,
// paragraph gaps) and prints the page text. Any error left in that text
// against the ground truth is the reading order's, not the recogniser's.
//
// usage: order_bound LINES.json [PAGE_ASPECT] [--time]
//   PAGE_ASPECT: page width over height (default 1); --time also prints to
//   standard error how long assembling the page takes, the mean of 200 runs.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pipeline/text_assembly.h"

namespace {

struct TruthLine {
  double left = 0, top = 0, right = 0, bottom = 0;
  bool vertical = false;  // optional in the file
  std::string text;
};

// Just enough JSON for the lines files: values are read in full so that
// extra keys of any type are skipped, and only the five known keys kept.
class LinesReader {
 public:
  explicit LinesReader(std::string text) : text_(std::move(text)) {}

  std::optional<std::vector<TruthLine>> read() {
    std::vector<TruthLine> lines;
    if (!consume('[')) return std::nullopt;
    if (consume(']')) return finished(lines);
    do {
      std::optional<TruthLine> line = readLine();
      if (!line) return std::nullopt;
      lines.push_back(std::move(*line));
    } while (consume(','));
    if (!consume(']')) return std::nullopt;
    return finished(lines);
  }

 private:
  std::optional<std::vector<TruthLine>> finished(std::vector<TruthLine>& lines) {
    skipSpace();
    if (position_ != text_.size()) return std::nullopt;
    return std::move(lines);
  }

  std::optional<TruthLine> readLine() {
    TruthLine line;
    if (!consume('{')) return std::nullopt;
    if (consume('}')) return line;
    do {
      std::optional<std::string> key = readString();
      if (!key || !consume(':')) return std::nullopt;
      double* number = *key == "left"     ? &line.left
                       : *key == "top"    ? &line.top
                       : *key == "right"  ? &line.right
                       : *key == "bottom" ? &line.bottom
                                          : nullptr;
      if (number != nullptr) {
        std::optional<double> value = readNumber();
        if (!value) return std::nullopt;
        *number = *value;
      } else if (*key == "vertical") {
        skipSpace();
        line.vertical = text_.compare(position_, 4, "true") == 0;
        if (!skipValue()) return std::nullopt;
      } else if (*key == "text") {
        std::optional<std::string> value = readString();
        if (!value) return std::nullopt;
        line.text = std::move(*value);
      } else if (!skipValue()) {
        return std::nullopt;
      }
    } while (consume(','));
    if (!consume('}')) return std::nullopt;
    return line;
  }

  bool skipValue() {
    skipSpace();
    if (position_ >= text_.size()) return false;
    const char c = text_[position_];
    if (c == '"') return readString().has_value();
    if (c == '[' || c == '{') {
      const char close = c == '[' ? ']' : '}';
      ++position_;
      if (consume(close)) return true;
      do {
        if (c == '{' && (!readString() || !consume(':'))) return false;
        if (!skipValue()) return false;
      } while (consume(','));
      return consume(close);
    }
    for (const char* word : {"true", "false", "null"}) {
      const std::string_view w(word);
      if (text_.compare(position_, w.size(), w) == 0) {
        position_ += w.size();
        return true;
      }
    }
    return readNumber().has_value();
  }

  std::optional<double> readNumber() {
    skipSpace();
    const std::size_t start = position_;
    while (position_ < text_.size() &&
           std::string_view("+-0123456789.eE").find(text_[position_]) != std::string_view::npos) {
      ++position_;
    }
    if (start == position_) return std::nullopt;
    try {
      return std::stod(text_.substr(start, position_ - start));
    } catch (const std::exception&) {
      return std::nullopt;
    }
  }

  std::optional<std::string> readString() {
    if (!consume('"')) return std::nullopt;
    std::string out;
    while (position_ < text_.size()) {
      const char c = text_[position_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (position_ >= text_.size()) return std::nullopt;
      const char escaped = text_[position_++];
      switch (escaped) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          std::optional<unsigned> unit = readHex4();
          if (!unit) return std::nullopt;
          unsigned codePoint = *unit;
          // A surrogate pair is one code point written as two escapes.
          if (codePoint >= 0xD800 && codePoint < 0xDC00 &&
              text_.compare(position_, 2, "\\u") == 0) {
            position_ += 2;
            std::optional<unsigned> low = readHex4();
            if (!low) return std::nullopt;
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10U) + (*low - 0xDC00);
          }
          appendUtf8(out, codePoint);
          break;
        }
        default:
          out += escaped;  // \" \\ \/
      }
    }
    return std::nullopt;
  }

  std::optional<unsigned> readHex4() {
    if (position_ + 4 > text_.size()) return std::nullopt;
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[position_++];
      value <<= 4U;
      if (c >= '0' && c <= '9')
        value |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        value |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        value |= static_cast<unsigned>(c - 'A' + 10);
      else
        return std::nullopt;
    }
    return value;
  }

  static void appendUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0U | (cp >> 6U));
      out += static_cast<char>(0x80U | (cp & 0x3FU));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0U | (cp >> 12U));
      out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
      out += static_cast<char>(0x80U | (cp & 0x3FU));
    } else {
      out += static_cast<char>(0xF0U | (cp >> 18U));
      out += static_cast<char>(0x80U | ((cp >> 12U) & 0x3FU));
      out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
      out += static_cast<char>(0x80U | (cp & 0x3FU));
    }
  }

  void skipSpace() {
    while (position_ < text_.size() &&
           std::string_view(" \t\r\n").find(text_[position_]) != std::string_view::npos) {
      ++position_;
    }
  }

  bool consume(char c) {
    skipSpace();
    if (position_ >= text_.size() || text_[position_] != c) return false;
    ++position_;
    return true;
  }

  std::string text_;
  std::size_t position_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace brindlewox;
  const bool timed = argc == 4 && std::string_view(argv[3]) == "--time";
  if (argc != 2 && argc != 3 && !timed) {
    std::fputs("usage: order_bound LINES.json [PAGE_ASPECT] [--time]\n", stderr);
    return 2;
  }
  const double aspect = argc >= 3 ? std::strtod(argv[2], nullptr) : 1.0;
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "order_bound: cannot read %s\n", argv[1]);
    return 1;
  }
  const std::optional<std::vector<TruthLine>> lines =
      LinesReader(std::string(std::istreambuf_iterator<char>(in), {})).read();
  if (!lines) {
    std::fprintf(stderr, "order_bound: %s is not a list of line objects\n", argv[1]);
    return 1;
  }

  // The observation's box has its origin at the lower left, y up.
  std::vector<TextObservation> observations;
  observations.reserve(lines->size());
  for (const TruthLine& line : *lines) {
    observations.push_back(TextObservation{
        NormalizedBox{line.left, 1.0 - line.bottom, line.right - line.left, line.bottom - line.top},
        TextCandidate{line.text, 1.0F}, line.vertical});
  }
  const RecognizedText page = assembleText(observations, aspect);
  if (timed) {
    constexpr int kRuns = 200;
    const auto start = std::chrono::steady_clock::now();
    std::size_t bytes = 0;
    for (int run = 0; run < kRuns; ++run) bytes += assembleText(observations, aspect).text.size();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "%zu observations: %.3f ms a page (%zu bytes)\n", observations.size(),
                 1e3 * seconds / kRuns, bytes / kRuns);
  }
  std::fwrite(page.text.data(), 1, page.text.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}
