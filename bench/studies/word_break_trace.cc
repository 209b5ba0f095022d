// Dumps what the CTC decoder sees on each line of a page, so that word-break
// rules can be measured offline (bench/studies/word_breaks.py) without re-running the
// networks: per line, per frame, the top class, its probability and the
// space class's probability, and the decoder's own space figures (its
// symbols after its passes, and each gap a space rule weighed). Lines are
// found and cut as the tool does; every page of a PDF is drawn as the tool
// draws it.
//
// One JSON object per page on standard output:
//   {"input": PATH, "page": N, "lines": [{"height": PX, "width": PX, "frames": [[class, p, space],
//   ...],
//     "symbols": [...], "usual": FRAMES|null, "pitch": FRAMES|null,
//     "gaps": [[next, rule, frames, evidence, needed], ...]}, ...]}
// and, with --dictionary, first a line {"dictionary": [symbols...]}.
//
// usage: word_break_trace [--dictionary] INPUT...
#include <algorithm>
#include <cstdio>
#include <string>

#include "bench/bench_support.h"
#include "pipeline/page_rendering.h"
#include "platform/image/bitmap_pixels.h"
#include "platform/image/image_decoder.h"
#include "platform/pdf/pdf_document.h"
#include "platform/recognizer/line_boxes.h"

namespace {

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x",
                    static_cast<unsigned>(static_cast<unsigned char>(c)));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

const char* ruleName(brindlewox::SpaceGap::Rule rule) {
  using Rule = brindlewox::SpaceGap::Rule;
  switch (rule) {
    case Rule::betweenScripts:
      return "between scripts";
    case Rule::clauseBeforeHan:
      return "clause before Han";
    case Rule::betweenLatin:
      return "between Latin";
    case Rule::fixedPitch:
      return "fixed pitch";
    case Rule::afterBullet:
      return "after bullet";
    case Rule::besideQuote:
      return "beside quote";
  }
  return "?";
}

std::vector<brindlewox::Bitmap> pages(const std::string& path) {
  using namespace brindlewox;
  std::vector<Bitmap> out;
  if (endsWith(path, ".pdf")) {
    Result<PDFDocument> document = PDFDocument::open(path);
    if (!document) return out;
    for (std::int64_t index = 0; index < document.value().pageCount(); ++index) {
      const std::optional<PDFPage> page = document.value().page(index);
      if (!page) break;
      Result<Bitmap> drawn = renderPDFPage(document.value(), *page, index + 1);
      if (!drawn) break;
      out.push_back(std::move(drawn.value()));
    }
    return out;
  }
  Result<Bitmap> image = imageFromFile(path);
  if (image) out.push_back(std::move(image.value()));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace brindlewox;
  std::optional<bench::Networks> networks = bench::loadNetworks();
  if (!networks) return 1;
  int first = 1;
  if (argc > 1 && std::string(argv[1]) == "--dictionary") {
    std::string out = "{\"dictionary\": [";
    for (std::size_t i = 0; i < networks->dictionary.size(); ++i) {
      out += (i ? ", " : "") + jsonString(networks->dictionary[i]);
    }
    std::printf("%s]}\n", out.c_str());
    first = 2;
  }
  for (int i = first; i < argc; ++i) {
    const std::vector<Bitmap> drawn = pages(argv[i]);
    if (drawn.empty()) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    }
    for (std::size_t number = 0; number < drawn.size(); ++number) {
      const cv::Mat& bgr = drawn[number].pixels().bgr;
      const FoundLines found = findLines(networks->detector(), bgr);
      std::string out = "{\"input\": " + jsonString(argv[i]) +
                        ", \"page\": " + std::to_string(number + 1) + ", \"lines\": [";
      bool firstLine = true;
      for (const Quad& chosen : chooseLines(found, bgr.size())) {
        const cv::Mat crop = TextLineReader::uprightCrop(found.image, chosen);
        const cv::Mat rows = networks->reader().probabilities(crop);
        if (rows.empty()) continue;
        const int spaceClass = rows.cols - 1;
        out += std::string(firstLine ? "" : ", ") + "{\"height\": " + std::to_string(crop.rows) +
               ", \"width\": " + std::to_string(crop.cols) + ", \"frames\": [";
        firstLine = false;
        for (int frame = 0; frame < rows.rows; ++frame) {
          const float* row = rows.ptr<float>(frame);
          int best = 0;
          for (int c = 1; c < rows.cols; ++c) {
            if (row[c] > row[best]) best = c;
          }
          char cell[64];
          std::snprintf(cell, sizeof cell, "%s[%d, %.4f, %.5f]", frame ? ", " : "", best,
                        static_cast<double>(row[best]), static_cast<double>(row[spaceClass]));
          out += cell;
        }
        out += "]";
        const SpaceFigures figures =
            networks->reader().decoder().spaceFigures(rows.ptr<float>(), rows.rows);
        out += ", \"symbols\": [";
        for (std::size_t s = 0; s < figures.symbols.size(); ++s)
          out += (s ? ", " : "") + jsonString(figures.symbols[s]);
        out += "], \"usual\": " +
               (figures.usualLetterGap ? std::to_string(*figures.usualLetterGap) : "null");
        char pitch[32] = "null";
        if (figures.fixedPitch) std::snprintf(pitch, sizeof pitch, "%.3f", *figures.fixedPitch);
        out += ", \"pitch\": " + std::string(pitch) + ", \"gaps\": [";
        for (std::size_t g = 0; g < figures.gaps.size(); ++g) {
          const SpaceGap& gap = figures.gaps[g];
          char cell[128];
          std::snprintf(cell, sizeof cell, "%s[%zu, \"%s\", %d, %.5f, %.5f]", g ? ", " : "",
                        gap.next, ruleName(gap.rule), gap.frames, static_cast<double>(gap.evidence),
                        static_cast<double>(gap.needed));
          out += cell;
        }
        out += "]}";
      }
      std::printf("%s]}\n", out.c_str());
      std::fflush(stdout);
    }
  }
  return 0;
}
