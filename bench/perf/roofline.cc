// How close the two networks come to the machine's limit. Prints:
//  - the multiply-adds of the detection network at the input size the tool
//    feeds it, and of the recognition network per input column, counted by
//    walking the prepared graphs as OpenCV loaded them (Convolution,
//    Deconvolution, InnerProduct/MatMul and our own DepthwiseConv,
//    PointwiseConv and DenseConv), beside OpenCV's own getFLOPS over the
//    layers it counts;
//  - the single-precision matrix product rate, of OpenBLAS and of the layers'
//    own kernel, on one thread and on both cores, square and in the shapes of
//    the networks' 1x1 convolutions;
//  - for each page: the detection forward and the recogniser's own reading
//    stage (Recognizer::readLines, as the tool runs it), and the share of the matrix product rate
//    each reaches (2 * multiply-adds / seconds / rate);
//  - the fixed costs on a one-line image: process start, engine load and the
//    first forwards;
//  - where one forward's time goes, by layer type, for a 320- and a
//    1600-column line and for a page-sized detection input.
//
// usage: roofline DENSE_PAGE SPARSE_PAGE ONE_LINE_IMAGE
// A page is a PDF (its first page, drawn as the tool draws it) or an image.
// ROOFLINE_LAYERS=1 also lists every counted layer on stderr, with its shapes,
// and the slowest layers of each profiled forward.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <cblas.h>
#include <opencv2/dnn/all_layers.hpp>
#include <opencv2/dnn/shape_utils.hpp>
#include <opencv2/imgproc.hpp>

#include "bench/bench_support.h"
#include "pipeline/page_rendering.h"
#include "platform/image/bitmap_pixels.h"
#include "platform/image/image_decoder.h"
#include "platform/pdf/pdf_document.h"
#include "platform/recognizer/line_boxes.h"
#include "platform/recognizer/line_geometry.h"
#include "platform/recognizer/matrix_product.h"
#include "platform/recognizer/network_layers.h"
#include "platform/recognizer/quantized_product.h"
#include "platform/recognizer/thread_count.h"

namespace {

using namespace brindlewox;
using bench::Clock;
using bench::secondsSince;
using cv::dnn::MatShape;

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// ---------------------------------------------------------------- counting

struct LayerWork {
  std::string name;
  std::string type;
  double macs = 0;
  double opencvFlops = 0;  // OpenCV's getFLOPS for this layer; 0 for layers it does not count
  // For a 1x1 convolution, the product's shape: [rows x depth] by [depth x columns].
  int rows = 0, depth = 0, columns = 0;
};

struct NetworkWork {
  double macs = 0;
  double macsOpenCVCounts = 0;  // ours, over the layers OpenCV counts too
  double opencvFlops = 0;
  std::vector<LayerWork> layers;
  std::map<std::string, int> uncounted;  // layer types with no multiply-adds counted
};

double total(const MatShape& shape) {
  double n = 1;
  for (const int side : shape) n *= side;
  return n;
}

NetworkWork countWork(cv::dnn::Net& net, const MatShape& input) {
  std::vector<int> ids;
  std::vector<std::vector<MatShape>> inShapes, outShapes;
  net.getLayersShapes(input, ids, inShapes, outShapes);
  NetworkWork work;
  // OpenCV 4.6 reports a global pooling's output at its input's height and
  // width before the network is set up (it is 1x1 when it runs), and so the
  // squeeze-and-excitation layers after it at full size. A layer whose inputs
  // all come from a global pooling, directly or through such layers, is
  // counted at 1x1. Layer ids are in graph order.
  std::map<int, bool> squeezed;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const cv::Ptr<cv::dnn::Layer> layer = net.getLayer(ids[i]);
    if (layer.empty() || outShapes[i].empty() || inShapes[i].empty()) continue;
    const auto* pooling = dynamic_cast<const cv::dnn::PoolingLayer*>(layer.get());
    bool fromPooling = pooling != nullptr && pooling->globalPooling;
    if (!fromPooling) {
      const std::vector<cv::Ptr<cv::dnn::Layer>> inputs = net.getLayerInputs(ids[i]);
      fromPooling = !inputs.empty() && std::all_of(inputs.begin(), inputs.end(),
                                                   [&](const cv::Ptr<cv::dnn::Layer>& input) {
                                                     return squeezed[net.getLayerId(input->name)];
                                                   });
    }
    squeezed[ids[i]] = fromPooling;
    LayerWork item{layer->name, layer->type};
    MatShape in = inShapes[i][0];
    MatShape out = outShapes[i][0];
    if (fromPooling && out.size() == 4) out[2] = out[3] = 1;
    if (fromPooling && in.size() == 4 && pooling == nullptr) in[2] = in[3] = 1;
    const std::vector<cv::Mat>& blobs = layer->blobs;
    if ((item.type == "Convolution" || item.type == "DepthwiseConv" ||
         item.type == "PointwiseConv" || item.type == "DenseConv") &&
        !blobs.empty()) {
      // Weights [out channels, in channels / groups, kh, kw]: each output
      // element takes one multiply-add per weight of its filter.
      item.macs = total(out) * (static_cast<double>(blobs[0].total()) / blobs[0].size[0]);
      if (blobs[0].dims == 4 && blobs[0].size[2] == 1 && blobs[0].size[3] == 1 &&
          blobs[0].size[1] > 1 && in.size() == 4) {
        item.rows = blobs[0].size[0];
        item.depth = blobs[0].size[1];
        item.columns = in[2] * in[3];
      }
    } else if (item.type == "Deconvolution" && !blobs.empty() && in.size() == 4) {
      // Weights [in channels, out channels / groups, kh, kw]: each input
      // element is spread over one filter.
      item.macs = total(in) * (static_cast<double>(blobs[0].total()) / in[1]);
    } else if (item.type == "InnerProduct" || item.type == "MatMul" || item.type == "Gemm") {
      // A product of the last axis: each output element takes one
      // multiply-add per element of the shared axis.
      const double shared =
          !blobs.empty() ? static_cast<double>(blobs[0].total()) / blobs[0].size[0] : in.back();
      item.macs = total(out) * shared;
    } else if (total(out) > 0 && !item.type.empty()) {  // the input layer has no type
      ++work.uncounted[item.type];
    }
    // OpenCV 4.6's count reads the weights of an InnerProduct and crashes on
    // one that multiplies two activations (the attention's MatMul); it
    // counts nothing for layers of other types that we count.
    const bool opencvCounts = item.type == "Convolution" || item.type == "Deconvolution" ||
                              (item.type == "InnerProduct" && !blobs.empty());
    if (opencvCounts) item.opencvFlops = static_cast<double>(net.getFLOPS(ids[i], input));
    if (std::getenv("ROOFLINE_LAYERS") != nullptr && item.macs > 0) {
      std::fprintf(stderr, "%s %s in %s out %s %.0f\n", item.name.c_str(), item.type.c_str(),
                   cv::dnn::toString(in).c_str(), cv::dnn::toString(out).c_str(), item.macs);
    }
    work.macs += item.macs;
    work.opencvFlops += item.opencvFlops;
    if (item.opencvFlops > 0) work.macsOpenCVCounts += item.macs;
    if (item.macs > 0) work.layers.push_back(item);
  }
  return work;
}

void printWork(const char* title, const NetworkWork& work) {
  std::map<std::string, double> byType;
  for (const LayerWork& layer : work.layers) byType[layer.type] += layer.macs;
  std::printf("%s: %.3f G multiply-adds\n", title, work.macs / 1e9);
  for (const auto& [type, macs] : byType) {
    std::printf("    %-16s %8.3f G (%4.1f%%)\n", type.c_str(), macs / 1e9,
                100.0 * macs / work.macs);
  }
  std::printf(
      "    cross-check: OpenCV's getFLOPS %.3f G flops over the layers it counts, where ours is "
      "%.3f G "
      "multiply-adds (x2 = %.3f G flops); it counts none of our own layers and crashes on a "
      "product of two "
      "activations\n",
      work.opencvFlops / 1e9, work.macsOpenCVCounts / 1e9, 2 * work.macsOpenCVCounts / 1e9);
  std::string uncounted;
  for (const auto& [type, count] : work.uncounted)
    uncounted += " " + type + "x" + std::to_string(count);
  std::printf("    layers without multiply-adds counted:%s\n", uncounted.c_str());
}

// Where one forward's time goes, by layer type, from OpenCV's own per-layer
// timing (a fused activation counts with the layer it is fused into): time,
// share, multiply-adds and the rate they run at. Median of five forwards.
void printLayerProfile(const char* title, cv::dnn::Net& net, const MatShape& shape,
                       const NetworkWork& work, int threads) {
  const ThreadCount count(threads);
  cv::Mat input(shape, CV_32F, cv::Scalar(0.1));
  std::map<std::string, std::vector<double>> seconds;  // by type, one entry per forward
  std::vector<double> totals;
  std::vector<std::pair<double, std::string>> layerSeconds;  // of the last forward
  for (int run = 0; run < 6; ++run) {
    net.setInput(input);
    net.forward();
    if (run == 0) continue;  // sets the network up for this size
    std::vector<double> timings;
    const double whole = static_cast<double>(net.getPerfProfile(timings)) / cv::getTickFrequency();
    totals.push_back(whole);
    std::map<std::string, double> byType;
    for (std::size_t i = 0; i < timings.size(); ++i) {
      const cv::Ptr<cv::dnn::Layer> layer = net.getLayer(static_cast<int>(i) + 1);
      byType[layer->type] += timings[i] / cv::getTickFrequency();
      if (run == 5)
        layerSeconds.emplace_back(timings[i] / cv::getTickFrequency(),
                                  layer->type + " " + layer->name);
    }
    for (const auto& [type, time] : byType) seconds[type].push_back(time);
  }
  std::map<std::string, double> macs;
  for (const LayerWork& layer : work.layers) macs[layer.type] += layer.macs;
  std::vector<std::pair<double, std::string>> order;
  for (const auto& [type, times] : seconds) order.emplace_back(median(times), type);
  std::sort(order.rbegin(), order.rend());
  const double whole = median(totals);
  std::printf("%s, %d OpenCV thread(s): %.1f ms per forward, %.1f GFLOP/s overall\n", title,
              threads, whole * 1e3, 2 * work.macs / whole / 1e9);
  for (const auto& [time, type] : order) {
    if (time < 0.005 * whole) continue;
    std::printf("    %-16s %8.2f ms %5.1f%%", type.c_str(), time * 1e3, 100.0 * time / whole);
    if (macs[type] > 0)
      std::printf("  %7.3f G MAC  %6.1f GFLOP/s", macs[type] / 1e9, 2 * macs[type] / time / 1e9);
    std::printf("\n");
  }
  if (std::getenv("ROOFLINE_LAYERS") != nullptr) {
    std::sort(layerSeconds.rbegin(), layerSeconds.rend());
    for (std::size_t i = 0; i < layerSeconds.size() && i < 15; ++i) {
      std::printf("      %8.2f ms  %s\n", layerSeconds[i].first * 1e3,
                  layerSeconds[i].second.c_str());
    }
  }
}

// --------------------------------------------------------- matrix products

// Row-major [rows x depth] by [depth x columns], as the 1x1 convolutions call
// it: through OpenBLAS directly, through the layers' own float product, or
// through their 8-bit product (its rate in GOP/s, two per multiply-add).
enum class Engine { kBlas, kFloat, kInt8, kInt12 };

const char* engineName(Engine engine) {
  switch (engine) {
    case Engine::kBlas:
      return "OpenBLAS";
    case Engine::kFloat:
      return "ours";
    case Engine::kInt8:
      return "ours int8";
    default:
      return "ours int12";
  }
}

struct Product {
  int rows, depth, columns;
  Engine engine;
  std::vector<float> a, b, c;
  std::optional<QuantizedMatrix> quantized;
  Product(int m, int k, int n, Engine with)
      : rows(m),
        depth(k),
        columns(n),
        engine(with),
        a(static_cast<std::size_t>(m) * k, 0.5F),
        b(static_cast<std::size_t>(k) * n, 0.25F),
        c(static_cast<std::size_t>(m) * n, 0.0F) {
    if (engine == Engine::kInt8)
      quantized.emplace(m, k, ConstMatrix{a.data(), k}, ProductPrecision::k8Bits);
    if (engine == Engine::kInt12)
      quantized.emplace(m, k, ConstMatrix{a.data(), k}, ProductPrecision::k12Bits);
  }
  void run() {
    switch (engine) {
      case Engine::kFloat:
        accumulateProduct(rows, columns, depth, {a.data(), depth}, {b.data(), columns},
                          {c.data(), columns}, ProductKernel::kAvx512);
        return;
      case Engine::kInt8:
      case Engine::kInt12:
        accumulateQuantizedProduct(*quantized, columns, {b.data(), columns}, {c.data(), columns});
        return;
      default:
        cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, rows, columns, depth, 1.0F, a.data(),
                    depth, b.data(), columns, 0.0F, c.data(), columns);
    }
  }
  double flops() const { return 2.0 * rows * depth * columns; }
};

// GFLOP/s of `copies` threads each running its own product on one OpenBLAS
// thread, or of one product on `blasThreads` threads. Best of three trials of
// at least 0.3 s each: the machine is shared, and the best is the nearest to
// what it can do.
double productRate(int m, int k, int n, int copies, int blasThreads, Engine engine) {
  openblas_set_num_threads(blasThreads);
  std::vector<Product> products;
  for (int i = 0; i < copies; ++i) products.emplace_back(m, k, n, engine);
  double best = 0;
  for (int trial = 0; trial < 3; ++trial) {
    std::vector<long> runs(static_cast<std::size_t>(copies), 0);
    const auto start = Clock::now();
    auto work = [&](int copy) {
      products[static_cast<std::size_t>(copy)].run();  // warm
      const auto begin = Clock::now();
      long count = 0;
      while (secondsSince(begin) < 0.3) {
        products[static_cast<std::size_t>(copy)].run();
        ++count;
      }
      runs[static_cast<std::size_t>(copy)] = count;
    };
    std::vector<std::thread> helpers;
    for (int copy = 1; copy < copies; ++copy) helpers.emplace_back(work, copy);
    work(0);
    for (std::thread& helper : helpers) helper.join();
    const double seconds = secondsSince(start);
    double flops = 0;
    for (int copy = 0; copy < copies; ++copy)
      flops += (runs[static_cast<std::size_t>(copy)] + 1) * products[0].flops();
    best = std::max(best, flops / seconds / 1e9);
  }
  openblas_set_num_threads(1);
  return best;
}

// The 1x1 convolutions carrying the most multiply-adds, one per shape.
std::vector<LayerWork> heaviestProducts(const NetworkWork& work, std::size_t count) {
  std::map<std::tuple<int, int, int>, LayerWork> shapes;
  for (const LayerWork& layer : work.layers) {
    if (layer.rows == 0) continue;
    LayerWork& entry = shapes[{layer.rows, layer.depth, layer.columns}];
    if (entry.rows == 0) entry = layer, entry.macs = 0;
    entry.macs += layer.macs;
  }
  std::vector<LayerWork> sorted;
  for (const auto& [shape, layer] : shapes) sorted.push_back(layer);
  std::sort(sorted.begin(), sorted.end(),
            [](const LayerWork& a, const LayerWork& b) { return a.macs > b.macs; });
  if (sorted.size() > count) sorted.resize(count);
  return sorted;
}

// ------------------------------------------------------------------- pages

using bench::loadPage;

// The recogniser's own reading stage on the page's chosen lines, as the tool
// runs it (its readers on threads of their own, widest lines first): crops,
// forwards and decoding. Returns its wall seconds.
double readLikeTheTool(Recognizer& recognizer, const FoundLines& found,
                       const std::vector<Quad>& chosen, cv::Size size) {
  const auto start = Clock::now();
  recognizer.readLines(found, chosen, size);
  return secondsSince(start);
}

struct Rates {
  double one;   // one core
  double both;  // both cores
};

struct Context {
  cv::dnn::Net detection;
  std::vector<cv::dnn::Net> readers;
  std::map<int, double> recognitionMacs;  // by input width
  Rates peak;
  Rates int8Peak;  // 0 where the processor has no 8-bit product
};

double recognitionMacs(Context& context, int width) {
  auto found = context.recognitionMacs.find(width);
  if (found != context.recognitionMacs.end()) return found->second;
  const double macs = countWork(context.readers[0], {1, 3, 48, width}).macs;
  context.recognitionMacs[width] = macs;
  return macs;
}

void profilePage(Context& context, Recognizer& recognizer, const char* label,
                 const std::string& path) {
  const std::optional<cv::Mat> page = loadPage(path);
  if (!page) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    std::exit(1);
  }
  const FoundLines found = findLines(recognizer.detector(), *page);
  const std::vector<Quad> chosen = chooseLines(found, page->size());
  const double scale = naturalDetectionScale(found.image.cols, found.image.rows);
  const cv::Mat detectionInput = TextDetector::networkInput(found.image, scale);
  const int inputHeight = detectionInput.size[2];
  const int inputWidth = detectionInput.size[3];
  const double detectionMacs = countWork(context.detection, {1, 3, inputHeight, inputWidth}).macs;
  context.detection.setInput(detectionInput);
  context.detection
      .forward();  // sets the network up for this size, as the previous page did in the engine
  std::vector<double> detectionTimes;
  for (int i = 0; i < 3; ++i) {
    const auto start = Clock::now();
    context.detection.setInput(detectionInput);
    context.detection.forward();
    detectionTimes.push_back(secondsSince(start));
  }
  const double detectionSeconds = median(detectionTimes);

  std::vector<cv::Mat> inputs;
  std::vector<double> widths;
  double columns = 0;
  double macs = 0;
  // Columns of background at the line ends beyond a share of the line's
  // height: what trimming each crop to its ink could save.
  const double trimShares[] = {0.1, 0.25};
  double trimmable[] = {0, 0};
  for (const Quad& line : chosen) {
    const cv::Mat crop = TextLineReader::uprightCrop(found.image, line);
    inputs.push_back(TextLineReader::networkInput(crop));
    if (const std::optional<cv::Rect> ink = inkBounds(crop)) {
      const double toColumns = 48.0 / std::max(1, crop.rows);
      for (int i = 0; i < 2; ++i) {
        const double kept = trimShares[i] * crop.rows;
        trimmable[i] += toColumns * (std::max(0.0, ink->x - kept) +
                                     std::max(0.0, crop.cols - ink->br().x - kept));
      }
    }
    const int width = inputs.back().size[3];
    columns += width;
    widths.push_back(width);
    macs += recognitionMacs(context, width);
  }
  // As the engine runs them: every line a new input width, so OpenCV sets
  // the network up again before most forwards.
  std::vector<double> engineTimes;
  for (int i = 0; i < 3; ++i)
    engineTimes.push_back(readLikeTheTool(recognizer, found, chosen, page->size()));
  const double engineSeconds = median(engineTimes);
  // One reader, one thread: each line's forward timed twice in a row; the
  // second runs without the setting up.
  double firstSum = 0, secondSum = 0;
  {
    const ThreadCount single(1);
    for (const cv::Mat& input : inputs) {
      auto start = Clock::now();
      context.readers[0].setInput(input);
      context.readers[0].forward();
      firstSum += secondsSince(start);
      start = Clock::now();
      context.readers[0].setInput(input);
      context.readers[0].forward();
      secondSum += secondsSince(start);
    }
  }
  auto share = [](double macCount, double seconds, double rate) {
    return rate > 0 ? 100.0 * 2 * macCount / seconds / 1e9 / rate : 0.0;
  };
  std::printf(
      "\n%s page %s: %dx%d pixels, detection input %dx%d, %zu lines, %.0f input columns (median "
      "line "
      "%.0f, widest %.0f)\n",
      label, path.c_str(), page->cols, page->rows, inputWidth, inputHeight, chosen.size(), columns,
      widths.empty() ? 0.0 : median(widths),
      widths.empty() ? 0.0 : *std::max_element(widths.begin(), widths.end()));
  std::printf(
      "  background at the line ends beyond 0.1 / 0.25 of the line height: %.1f%% / %.1f%% of the "
      "columns\n",
      100.0 * trimmable[0] / std::max(1.0, columns), 100.0 * trimmable[1] / std::max(1.0, columns));
  std::printf(
      "  detection forward (OpenCV's threads, median of 3): %7.3f s  %6.2f G MAC  %6.1f GFLOP/s  "
      "%5.1f%% of both cores' rate, %5.1f%% of their int12 rate\n",
      detectionSeconds, detectionMacs / 1e9, 2 * detectionMacs / detectionSeconds / 1e9,
      share(detectionMacs, detectionSeconds, context.peak.both),
      share(detectionMacs, detectionSeconds, context.int8Peak.both));
  if (inputs.empty()) return;
  std::printf(
      "  recognition, %zu readers, the tool's reading stage (median of 3): %7.3f s  %6.2f G MAC  "
      "%6.1f GFLOP/s  "
      "%5.1f%% of both cores' rate, %5.1f%% of their int12 rate\n",
      context.readers.size(), engineSeconds, macs / 1e9, 2 * macs / engineSeconds / 1e9,
      share(macs, engineSeconds, context.peak.both),
      share(macs, engineSeconds, context.int8Peak.both));
  std::printf(
      "  recognition, one reader on one thread, new width each line: %7.3f s  %6.1f GFLOP/s  "
      "%5.1f%% of one "
      "core's rate\n",
      firstSum, 2 * macs / firstSum / 1e9, share(macs, firstSum, context.peak.one));
  std::printf(
      "  recognition, one reader on one thread, same width again:    %7.3f s  %6.1f GFLOP/s  "
      "%5.1f%% of one "
      "core's rate (setting up: %.0f%% of the first)\n",
      secondSum, 2 * macs / secondSum / 1e9, share(macs, secondSum, context.peak.one),
      100.0 * (firstSum - secondSum) / firstSum);
}

// ------------------------------------------------------------- fixed costs

// Wall seconds of the tool run as a parent runs it.
double runTool(const std::vector<std::string>& arguments) {
  const auto start = Clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    std::vector<char*> argv{const_cast<char*>(BRINDLEWOX_BINARY)};
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (std::freopen("/dev/null", "w", stderr) == nullptr) ::_exit(126);
    ::execv(BRINDLEWOX_BINARY, argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return secondsSince(start);
}

void fixedCosts(const std::string& lineImage) {
  std::vector<double> bare, whole;
  const std::string out = "/tmp/roofline_" + std::to_string(::getpid()) + ".json";
  for (int i = 0; i < 5; ++i) {
    bare.push_back(runTool({}));
    whole.push_back(runTool({lineImage, out}));
  }
  std::remove(out.c_str());

  auto start = Clock::now();
  const Result<ModelPaths> paths = locateModels();
  if (!paths) std::exit(1);
  cv::dnn::Net detection = readNetwork(paths.value().detection);
  const double detectionLoad = secondsSince(start);
  start = Clock::now();
  cv::dnn::Net recognition = readNetwork(paths.value().recognition);
  const double recognitionLoad = secondsSince(start);

  const std::optional<cv::Mat> image = loadPage(lineImage);
  if (!image) std::exit(1);
  TextDetector detector(detection);
  const FoundLines found = findLines(detector, *image);  // the first detection forward
  const cv::Mat detectionInput = TextDetector::networkInput(
      found.image, naturalDetectionScale(found.image.cols, found.image.rows));
  detection.setInput(detectionInput);
  start = Clock::now();
  detection.forward();
  const double detectionWarm = secondsSince(start);
  TextDetector fresh(readNetwork(paths.value().detection));
  start = Clock::now();
  fresh.probabilityMap(found.image, naturalDetectionScale(found.image.cols, found.image.rows));
  const double detectionFirst = secondsSince(start);

  double recognitionFirst = 0, recognitionWarm = 0;
  if (!found.lines.empty()) {
    const cv::Mat input =
        TextLineReader::networkInput(TextLineReader::uprightCrop(found.image, found.lines[0].crop));
    recognition.setInput(input);
    start = Clock::now();
    recognition.forward();
    recognitionFirst = secondsSince(start);
    recognition.setInput(input);
    start = Clock::now();
    recognition.forward();
    recognitionWarm = secondsSince(start);
  }
  std::printf(
      "\nfixed costs, one-line image %s (%dx%d, %zu line(s) found); tool runs: median of 5\n",
      lineImage.c_str(), image->cols, image->rows, found.lines.size());
  std::printf("  whole tool run on the image             %7.3f s\n", median(whole));
  std::printf("  process start alone (no arguments)      %7.3f s\n", median(bare));
  std::printf(
      "  in this process: detection graph read   %7.3f s, recognition graph read %.3f s (the "
      "engine reads it "
      "once per reader)\n",
      detectionLoad, recognitionLoad);
  std::printf(
      "  first detection forward %.3f s (warm %.3f s), first recognition forward %.3f s (warm %.3f "
      "s)\n",
      detectionFirst, detectionWarm, recognitionFirst, recognitionWarm);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: roofline DENSE_PAGE SPARSE_PAGE ONE_LINE_IMAGE\n");
    return 2;
  }
  // The fixed costs first, while nothing else is loaded in this process.
  fixedCosts(argv[3]);

  std::optional<bench::Networks> networks = bench::loadNetworks();
  if (!networks) return 1;
  Context context;
  context.detection = readNetwork(networks->paths.detection);
  const std::size_t readers = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
  for (std::size_t i = 0; i < readers; ++i)
    context.readers.push_back(readNetwork(networks->paths.recognition));

  std::printf("\nmultiply-adds, counted over the prepared graphs\n");
  const NetworkWork detection1280 = countWork(context.detection, {1, 3, 960, 1280});
  printWork("detection at 1280x960 (a 4:3 page at the long-side limit)", detection1280);
  const NetworkWork recognition320 = countWork(context.readers[0], {1, 3, 48, 320});
  printWork("recognition at 48x320", recognition320);
  std::printf("recognition per input column:");
  for (const int width : {64, 160, 320, 640, 1280, 2560}) {
    std::printf("  %d: %.2f M", width, recognitionMacs(context, width) / width / 1e6);
  }
  std::printf("\n");

  const bool ownKernel = fastestProductKernel() == ProductKernel::kAvx512;
  const bool int8Kernel = quantizedProductAvailable();
  std::printf(
      "\nmatrix products, GFLOP/s (int8: GOP/s; best of 3 trials of 0.3 s): OpenBLAS %s, "
      "cblas_sgemm%s%s\n",
      openblas_get_config(),
      ownKernel ? "; ours: the layers' own AVX-512 kernel"
                : " (no AVX-512 here: the layers use it too)",
      int8Kernel ? "; ours int8 / int12: their VNNI kernels in 8 and 12 bits (recognition runs "
                   "12), inputs quantised as "
                   "they run"
                 : "");
  std::printf("  %-44s %-9s %10s %14s %16s\n", "shape [m x k] . [k x n]", "kernel", "1 thread",
              "2 threads", "2 x 1 thread");
  // Returns the best float rate and the 12-bit integer rate, which recognition runs at.
  auto printRates = [ownKernel, int8Kernel](const std::string& what, int m, int k, int n,
                                            bool threaded) {
    Rates best{0, 0};
    Rates int8{0, 0};
    for (const Engine engine : {Engine::kBlas, Engine::kFloat, Engine::kInt8, Engine::kInt12}) {
      if ((engine == Engine::kFloat && !ownKernel) || (engine >= Engine::kInt8 && !int8Kernel))
        continue;
      // 12-bit sums hold 512 steps; deeper products stay float in the layers.
      if (engine == Engine::kInt12 && k > QuantizedMatrix::kMaxDepth12) continue;
      const double one = productRate(m, k, n, 1, 1, engine);
      // One product on two threads is OpenBLAS's own threading; ours runs on the caller's thread.
      const double two =
          threaded && engine == Engine::kBlas ? productRate(m, k, n, 1, 2, engine) : 0;
      const double pair = productRate(m, k, n, 2, 1, engine);
      char twoText[32] = "-";
      if (two > 0) std::snprintf(twoText, sizeof twoText, "%.1f", two);
      std::printf("  %-44s %-9s %10.1f %14s %16.1f\n", engine == Engine::kBlas ? what.c_str() : "",
                  engineName(engine), one, twoText, pair);
      if (engine == Engine::kInt12) {
        int8 = Rates{one, std::max(one, pair)};
      } else if (engine != Engine::kInt8) {
        best = Rates{std::max(best.one, one), std::max({best.both, two, pair})};
      }
    }
    return std::pair(best, int8);
  };
  context.peak = printRates("square 1024", 1024, 1024, 1024, true).first;
  const Rates square2048 = printRates("square 2048", 2048, 2048, 2048, true).first;
  context.peak.one = std::max(context.peak.one, square2048.one);
  context.peak.both = std::max(context.peak.both, square2048.both);
  // The integer peak in the shape of recognition's widest 1x1 convolutions, within the 12-bit
  // depth.
  context.int8Peak = printRates("square 512", 512, 512, 512, true).second;
  for (const auto& [title, work] :
       {std::pair<const char*, const NetworkWork*>{"detection 1x1", &detection1280},
        {"recognition 1x1", &recognition320}}) {
    for (const LayerWork& layer : heaviestProducts(*work, 3)) {
      const std::string what = std::string(title) + " [" + std::to_string(layer.rows) + " x " +
                               std::to_string(layer.depth) + "] . [" + std::to_string(layer.depth) +
                               " x " + std::to_string(layer.columns) + "]";
      printRates(what, layer.rows, layer.depth, layer.columns, false);
    }
  }
  // Two cores cannot do less than one; under load from elsewhere the pair can measure lower.
  context.peak.both = std::max(context.peak.both, context.peak.one);
  std::printf(
      "  peak taken for the shares: one core %.1f, both cores %.1f GFLOP/s; int12 one core %.1f, "
      "both cores "
      "%.1f GOP/s\n",
      context.peak.one, context.peak.both, context.int8Peak.one, context.int8Peak.both);

  profilePage(context, *networks->recognizer, "dense", argv[1]);
  profilePage(context, *networks->recognizer, "sparse", argv[2]);

  std::printf("\nwhere a forward's time goes, by layer type\n");
  printLayerProfile("recognition at 48x320", context.readers[0], {1, 3, 48, 320}, recognition320,
                    1);
  printLayerProfile("recognition at 48x1600", context.readers[0], {1, 3, 48, 1600},
                    countWork(context.readers[0], {1, 3, 48, 1600}), 1);
  printLayerProfile("detection at 1280x960", context.detection, {1, 3, 960, 1280}, detection1280,
                    cv::getNumThreads());
  return 0;
}
