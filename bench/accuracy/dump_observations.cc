// What the recogniser reports for one page, written as a lines file that
// order_bound reads: each observation's levelled ink box (normalised to the
// page, y down from the top), its text and whether it runs down the page,
// in the detector's order, with the page's aspect on standard output. The
// reading order can then be tuned on real detections in seconds, with
// bench/accuracy/order_score.py --observations, without running the networks again.
//
// usage: dump_observations INPUT OUT.lines.json   (a PDF's first page, or an image)
#include <cstdio>
#include <fstream>
#include <string>

#include "document/json_text.h"
#include "pipeline/page_rendering.h"
#include "platform/image/image_decoder.h"
#include "platform/pdf/pdf_document.h"
#include "platform/recognizer/text_recognizer.h"

namespace {

using namespace brindlewox;

Result<Bitmap> pageImage(const std::string& input) {
  if (input.size() < 4 || input.compare(input.size() - 4, 4, ".pdf") != 0)
    return imageFromFile(input);
  Result<PDFDocument> document = PDFDocument::open(input);
  if (!document) return document.failure();
  const std::optional<PDFPage> page = document.value().page(0);
  if (!page) return PlatformError{"no first page"};
  return renderPDFPage(document.value(), *page, 1);
}

std::string number(double value) {
  return jsonNumber(value).value_or("0");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: dump_observations INPUT OUT.lines.json\n", stderr);
    return 2;
  }
  const Result<Bitmap> image = pageImage(argv[1]);
  if (!image) return 1;
  const Result<std::vector<TextObservation>> observations = recognizeObservations(image.value());
  if (!observations) return 1;
  std::string out = "[";
  for (const TextObservation& o : observations.value()) {
    if (out.size() > 1) out += ",\n";
    out += "{\"left\": " + number(o.box.x) + ", \"top\": " + number(1.0 - o.box.maxY()) +
           ", \"right\": " + number(o.box.x + o.box.width) +
           ", \"bottom\": " + number(1.0 - o.box.minY()) +
           ", \"vertical\": " + (o.vertical ? "true" : "false") + ", \"text\": ";
    appendJSONString(out, o.best ? o.best->string : "");
    out += "}";
  }
  out += "]\n";
  std::ofstream(argv[2], std::ios::binary) << out;
  std::printf("%.6f\n", static_cast<double>(image.value().width()) / image.value().height());
  return 0;
}
