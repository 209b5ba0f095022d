// Every frame of a page's lines where the recognition network's top class or
// one of its runners-up is a quotation mark or apostrophe, with the line's
// text and the three likeliest classes: what the network tells a straight
// quote from a typographic one by.
//
// usage: quote_frames INPUT...
#include <algorithm>
#include <array>
#include <cstdio>
#include <set>
#include <string>

#include "bench/bench_support.h"
#include "platform/recognizer/line_boxes.h"

int main(int argc, char** argv) {
  using namespace brindlewox;
  std::optional<bench::Networks> networks = bench::loadNetworks();
  if (!networks) return 1;
  const std::set<std::string> marks = {"'", "\"", "\u2018", "\u2019", "\u201c", "\u201d", "`"};
  auto symbol = [&](int c) -> std::string {
    if (c == 0) return "<blank>";
    if (static_cast<std::size_t>(c) <= networks->dictionary.size())
      return networks->dictionary[c - 1];
    return "<space>";
  };
  for (int i = 1; i < argc; ++i) {
    const std::optional<cv::Mat> page = bench::loadPage(argv[i]);
    if (!page) return 1;
    const FoundLines found = findLines(networks->detector(), *page);
    for (const Quad& chosen : chooseLines(found, page->size())) {
      const cv::Mat crop = TextLineReader::uprightCrop(found.image, chosen);
      const cv::Mat rows = networks->reader().probabilities(crop);
      if (rows.empty()) continue;
      const DecodedLine line = networks->reader().decoder().decode(rows.ptr<float>(), rows.rows);
      for (int frame = 0; frame < rows.rows; ++frame) {
        const float* row = rows.ptr<float>(frame);
        std::array<int, 3> top{0, 0, 0};
        std::array<float, 3> p{-1, -1, -1};
        for (int c = 0; c < rows.cols; ++c) {
          for (int k = 0; k < 3; ++k) {
            if (row[c] > p[k]) {
              for (int m = 2; m > k; --m) {
                top[m] = top[m - 1];
                p[m] = p[m - 1];
              }
              top[k] = c;
              p[k] = row[c];
              break;
            }
          }
        }
        bool shown = false;
        for (int k = 0; k < 3; ++k) shown = shown || (marks.count(symbol(top[k])) && p[k] > 0.01);
        if (!shown) continue;
        std::printf("%s|%d| %s %.3f  %s %.3f  %s %.3f  | %s\n", argv[i], frame,
                    symbol(top[0]).c_str(), p[0], symbol(top[1]).c_str(), p[1],
                    symbol(top[2]).c_str(), p[2], line.text.c_str());
      }
    }
  }
  return 0;
}
