// Where the time of one PDF page goes: drawing (with the conversion to BGR),
// the detection network, its post-processing, cutting the line crops, and
// reading the lines (by one reader, and as the engine does it, by several).
//
// usage: page_profile FILE.pdf [PAGE]
#include <cstdio>
#include <cstdlib>

#include <opencv2/imgproc.hpp>

#include "bench/bench_support.h"
#include "pipeline/page_rendering.h"
#include "pipeline/text_recognition.h"
#include "platform/image/bitmap_pixels.h"
#include "platform/pdf/pdf_document.h"

int main(int argc, char** argv) {
  using namespace brindlewox;
  using bench::Clock;
  using bench::secondsSince;
  if (argc < 2) {
    std::fprintf(stderr, "usage: page_profile FILE.pdf [PAGE]\n");
    return 2;
  }
  const std::int64_t number = argc > 2 ? std::atoll(argv[2]) : 1;
  Result<PDFDocument> document = PDFDocument::open(argv[1]);
  if (!document) return 1;
  const std::optional<PDFPage> page = document.value().page(number - 1);
  if (!page) return 1;

  auto start = Clock::now();
  const Result<Bitmap> bitmap = renderPDFPage(document.value(), *page, number);
  const double drawing = secondsSince(start);
  if (!bitmap) return 1;
  const cv::Mat& bgr = bitmap.value().pixels().bgr;
  cv::Mat bgrx;
  cv::cvtColor(bgr, bgrx, cv::COLOR_BGR2BGRA);
  start = Clock::now();
  cv::Mat back;
  cv::cvtColor(bgrx, back, cv::COLOR_BGRA2BGR);
  const double conversion = secondsSince(start);

  std::optional<bench::Networks> networks = bench::loadNetworks();
  if (!networks) return 1;
  TextDetector& detector = networks->detector();
  TextLineReader& reader = networks->reader();
  findLines(detector, bgr);  // first run sets the network up for this size

  start = Clock::now();
  detector.probabilityMap(bgr, naturalDetectionScale(bgr.cols, bgr.rows));
  const double network = secondsSince(start);
  start = Clock::now();
  const FoundLines found = findLines(detector, bgr);
  const std::vector<DetectedLine>& boxes = found.lines;
  const double detection = secondsSince(start);

  start = Clock::now();
  std::vector<cv::Mat> crops;
  for (const DetectedLine& box : boxes)
    crops.push_back(TextLineReader::uprightCrop(found.image, box.crop));
  const double cropping = secondsSince(start);
  start = Clock::now();
  for (const cv::Mat& crop : crops) reader.read(crop);
  const double reading = secondsSince(start);

  if (!recognizeText(bitmap.value())) return 1;  // loads the engine
  start = Clock::now();
  if (!recognizeText(bitmap.value())) return 1;
  const double engine = secondsSince(start);

  std::printf("page %lld, %dx%d pixels, %zu lines\n", static_cast<long long>(number), bgr.cols,
              bgr.rows, boxes.size());
  std::printf("  drawing (Poppler, with BGR conversion) %7.3f s\n", drawing);
  std::printf("    of which the BGRX to BGR conversion  %7.3f s\n", conversion);
  std::printf("  detection network alone                %7.3f s\n", network);
  std::printf("  detection with post-processing         %7.3f s\n", detection);
  std::printf("  line crops                             %7.3f s\n", cropping);
  std::printf("  line recognition, one reader           %7.3f s\n", reading);
  std::printf("  whole recognition as the engine runs it %6.3f s\n", engine);
  return 0;
}
