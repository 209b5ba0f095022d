#include "platform/recognizer/network_layers.h"
#include "platform/recognizer/quantized_product.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include <opencv2/dnn/all_layers.hpp>

#include "platform/recognizer/text_line_reader.h"

namespace brindlewox {
namespace {

struct DepthwiseShape {
  int kernelHeight, kernelWidth;
  std::vector<int> padding;  // top, left, bottom, right
  std::vector<int> step;     // vertical, horizontal
};

float hardSwish(float x) {
  return x * std::clamp(x + 3.0F, 0.0F, 6.0F) / 6.0F;
}

cv::Mat randomBlob(std::vector<int> sizes, std::uint64_t seed) {
  cv::Mat blob(static_cast<int>(sizes.size()), sizes.data(), CV_32F);
  cv::RNG(seed).fill(blob, cv::RNG::UNIFORM, -4.0, 4.0);
  return blob;
}

// The definition, written out: zero outside the input.
cv::Mat referenceDepthwise(const cv::Mat& input, const cv::Mat& weights, const cv::Mat& bias,
                           const DepthwiseShape& shape) {
  const int channels = input.size[1];
  const int height = input.size[2];
  const int width = input.size[3];
  const int outHeight =
      (height + shape.padding[0] + shape.padding[2] - shape.kernelHeight) / shape.step[0] + 1;
  const int outWidth =
      (width + shape.padding[1] + shape.padding[3] - shape.kernelWidth) / shape.step[1] + 1;
  const int sizes[] = {1, channels, outHeight, outWidth};
  cv::Mat output(4, sizes, CV_32F);
  for (int c = 0; c < channels; ++c) {
    for (int oy = 0; oy < outHeight; ++oy) {
      for (int ox = 0; ox < outWidth; ++ox) {
        float sum = bias.ptr<float>()[c];
        for (int ky = 0; ky < shape.kernelHeight; ++ky) {
          for (int kx = 0; kx < shape.kernelWidth; ++kx) {
            const int y = oy * shape.step[0] - shape.padding[0] + ky;
            const int x = ox * shape.step[1] - shape.padding[1] + kx;
            if (y < 0 || y >= height || x < 0 || x >= width) continue;
            const int w[] = {c, 0, ky, kx};
            const int in[] = {0, c, y, x};
            sum += weights.at<float>(w) * input.at<float>(in);
          }
        }
        const int out[] = {0, c, oy, ox};
        output.at<float>(out) = sum;
      }
    }
  }
  return output;
}

cv::dnn::LayerParams depthwiseParams(const cv::Mat& weights, const cv::Mat& bias,
                                     const DepthwiseShape& shape) {
  cv::dnn::LayerParams params;
  params.name = "depthwise";
  params.type = "DepthwiseConv";
  params.blobs = {weights, bias};
  params.set("padding", cv::dnn::DictValue::arrayInt(shape.padding.data(), 4));
  params.set("step", cv::dnn::DictValue::arrayInt(shape.step.data(), 2));
  return params;
}

cv::dnn::LayerParams hardSwishParams(float scale, float shift) {
  cv::dnn::LayerParams params;
  params.name = "hardswish";
  params.type = "AffineHardSwish";
  params.set("scale", scale);
  params.set("shift", shift);
  return params;
}

cv::Mat run(cv::dnn::Net& net, const cv::Mat& input) {
  net.setInput(input);
  return net.forward().clone();
}

void expectNear(const cv::Mat& actual, const cv::Mat& expected) {
  ASSERT_EQ(actual.dims, expected.dims);
  for (int i = 0; i < expected.dims; ++i)
    ASSERT_EQ(actual.size[i], expected.size[i]) << "axis " << i;
  EXPECT_LT(cv::norm(actual.reshape(1, 1), expected.reshape(1, 1), cv::NORM_INF), 1e-4);
}

// A layer marked quantized, on a processor that multiplies in integers:
// within the error of the quantisation steps of the definition (2% of the output's range: a
// misplaced block or scale is off by the range itself), and not equal to
// the float result, which would mean the mark was ignored.
void expectNearInEightBits(const cv::Mat& actual, const cv::Mat& expected) {
  ASSERT_EQ(actual.dims, expected.dims);
  for (int i = 0; i < expected.dims; ++i)
    ASSERT_EQ(actual.size[i], expected.size[i]) << "axis " << i;
  const double difference = cv::norm(actual.reshape(1, 1), expected.reshape(1, 1), cv::NORM_INF);
  EXPECT_LT(difference, 0.02 * cv::norm(expected.reshape(1, 1), cv::NORM_INF));
  EXPECT_GT(difference, 1e-4);
}

// The layer types that take the quantized mark run in float (0) and in
// each precision of integers the processor has.
std::vector<int> precisions() {
  if (quantizedProductAvailable()) return {0, 8, 12};
  return {0};
}

void markQuantized(cv::dnn::LayerParams& params, int bits) {
  if (bits == 0) return;
  params.set("quantized", 1);
  params.set("bits", bits);
}

// Odd widths leave a remainder after the vector loop, heights one after the
// rows taken four at a time, and a wide plane takes the row-by-row path; the
// shapes include the network's own (5x5 with vertical stride 2) and the
// general strided path.
TEST(NetworkLayers, DepthwiseConvolutionMatchesTheDefinitionAcrossInputSizes) {
  registerNetworkLayers();
  const std::vector<DepthwiseShape> shapes = {{5, 5, {2, 2, 2, 2}, {1, 1}},
                                              {5, 5, {2, 2, 2, 2}, {2, 1}},
                                              {3, 5, {1, 2, 0, 1}, {1, 2}},
                                              {1, 1, {0, 0, 0, 0}, {1, 1}}};
  for (const DepthwiseShape& shape : shapes) {
    SCOPED_TRACE(testing::Message() << shape.kernelHeight << "x" << shape.kernelWidth << " step "
                                    << shape.step[0] << "," << shape.step[1]);
    const int channels = 6;
    const cv::Mat weights = randomBlob({channels, 1, shape.kernelHeight, shape.kernelWidth}, 1);
    const cv::Mat bias = randomBlob({1, channels}, 2);
    cv::dnn::Net net;
    cv::dnn::LayerParams params = depthwiseParams(weights, bias, shape);
    net.addLayerToPrev(params.name, params.type, params);
    // One network, several sizes in turn, as the line reader uses it.
    for (const auto& [height, width] :
         std::vector<std::pair<int, int>>{{12, 37}, {3, 80}, {7, 5}, {5, 150}, {12, 37}}) {
      const cv::Mat input =
          randomBlob({1, channels, height, width},
                     static_cast<std::uint64_t>(height) * 1000 + static_cast<std::uint64_t>(width));
      expectNear(run(net, input), referenceDepthwise(input, weights, bias, shape));
    }
  }
}

cv::Mat referencePointwise(const cv::Mat& input, const cv::Mat& weights, const cv::Mat& bias) {
  const int batch = input.size[0];
  const int inChannels = input.size[1];
  const int outChannels = weights.size[0];
  const int pixels = input.size[2] * input.size[3];
  const int sizes[] = {batch, outChannels, input.size[2], input.size[3]};
  cv::Mat output(4, sizes, CV_32F);
  for (int n = 0; n < batch; ++n) {
    for (int o = 0; o < outChannels; ++o) {
      for (int p = 0; p < pixels; ++p) {
        double sum = bias.ptr<float>()[o];
        for (int i = 0; i < inChannels; ++i) {
          sum += static_cast<double>(weights.ptr<float>()[o * inChannels + i]) *
                 input.ptr<float>()[(static_cast<std::size_t>(n) * inChannels + i) * pixels + p];
        }
        output.ptr<float>()[(static_cast<std::size_t>(n) * outChannels + o) * pixels + p] =
            static_cast<float>(sum);
      }
    }
  }
  return output;
}

// With two threads the pixels are split into blocks, each its own product;
// a batch of two and sizes that do not divide evenly check the offsets.
TEST(NetworkLayers, PointwiseConvolutionMatchesTheDefinitionOnOneAndTwoThreads) {
  registerNetworkLayers();
  const int previousThreads = cv::getNumThreads();
  const cv::Mat weights = randomBlob({5, 7, 1, 1}, 5);
  const cv::Mat bias = randomBlob({1, 5}, 6);
  for (const int bits : precisions()) {
    cv::dnn::LayerParams params;
    params.name = "pointwise";
    params.type = "PointwiseConv";
    params.blobs = {weights, bias};
    markQuantized(params, bits);
    cv::dnn::Net net;
    net.addLayerToPrev(params.name, params.type, params);
    cv::dnn::LayerParams activation = hardSwishParams(1.5F, 0.125F);
    net.addLayerToPrev(activation.name, activation.type, activation);
    for (const int threads : {1, 2}) {
      cv::setNumThreads(threads);
      // {2, 2, 5}: too narrow for 8 bits, it stays float.
      for (const auto& [batch, height, width] :
           std::vector<std::array<int, 3>>{{1, 3, 333}, {2, 2, 5}, {1, 12, 80}}) {
        SCOPED_TRACE(testing::Message() << bits << " bits, " << threads << " threads, " << batch
                                        << "x" << height << "x" << width);
        const cv::Mat input =
            randomBlob({batch, 7, height, width},
                       static_cast<std::uint64_t>(width) + static_cast<std::uint64_t>(batch));
        cv::Mat expected = referencePointwise(input, weights, bias);
        std::transform(expected.begin<float>(), expected.end<float>(), expected.begin<float>(),
                       [](float x) { return 1.5F * hardSwish(x) + 0.125F; });
        if (bits != 0 && height * width >= 16) {
          expectNearInEightBits(run(net, input), expected);
        } else {
          expectNear(run(net, input), expected);
        }
      }
    }
  }
  cv::setNumThreads(previousThreads);
}

// The definition, written out: zero outside the input, stride 1, no groups.
cv::Mat referenceDense(const cv::Mat& input, const cv::Mat& weights, const cv::Mat& bias,
                       const std::vector<int>& padding) {
  const int batch = input.size[0];
  const int inChannels = input.size[1];
  const int height = input.size[2];
  const int width = input.size[3];
  const int outChannels = weights.size[0];
  const int kernelHeight = weights.size[2];
  const int kernelWidth = weights.size[3];
  const int outHeight = height + padding[0] + padding[2] - kernelHeight + 1;
  const int outWidth = width + padding[1] + padding[3] - kernelWidth + 1;
  const int sizes[] = {batch, outChannels, outHeight, outWidth};
  cv::Mat output(4, sizes, CV_32F);
  for (int n = 0; n < batch; ++n) {
    for (int o = 0; o < outChannels; ++o) {
      for (int oy = 0; oy < outHeight; ++oy) {
        for (int ox = 0; ox < outWidth; ++ox) {
          double sum = bias.ptr<float>()[o];
          for (int c = 0; c < inChannels; ++c) {
            for (int ky = 0; ky < kernelHeight; ++ky) {
              for (int kx = 0; kx < kernelWidth; ++kx) {
                const int y = oy - padding[0] + ky;
                const int x = ox - padding[1] + kx;
                if (y < 0 || y >= height || x < 0 || x >= width) continue;
                const int w[] = {o, c, ky, kx};
                const int in[] = {n, c, y, x};
                sum += static_cast<double>(weights.at<float>(w)) * input.at<float>(in);
              }
            }
          }
          const int out[] = {n, o, oy, ox};
          output.at<float>(out) = static_cast<float>(sum);
        }
      }
    }
  }
  return output;
}

// Kernels square and not, padding even and uneven, a batch of two, and
// widths that put one row, several rows or part of the rows in each band of
// the product; on one and on two threads, with an activation fused in.
TEST(NetworkLayers, DenseConvolutionMatchesTheDefinitionOnOneAndTwoThreads) {
  registerNetworkLayers();
  const int previousThreads = cv::getNumThreads();
  struct Kernel {
    int height, width;
    std::vector<int> padding;  // top, left, bottom, right
  };
  for (const Kernel& kernel :
       std::vector<Kernel>{{3, 3, {1, 1, 1, 1}}, {1, 3, {0, 1, 0, 1}}, {3, 2, {0, 1, 2, 0}}}) {
    const cv::Mat weights = randomBlob({4, 3, kernel.height, kernel.width}, 7);
    const cv::Mat bias = randomBlob({1, 4}, 8);
    for (const int bits : precisions()) {
      cv::dnn::LayerParams params;
      params.name = "dense";
      params.type = "DenseConv";
      params.blobs = {weights, bias};
      params.set("padding", cv::dnn::DictValue::arrayInt(kernel.padding.data(), 4));
      markQuantized(params, bits);
      cv::dnn::Net net;
      net.addLayerToPrev(params.name, params.type, params);
      cv::dnn::LayerParams activation = hardSwishParams(0.75F, 0.5F);
      net.addLayerToPrev(activation.name, activation.type, activation);
      for (const int threads : {1, 2}) {
        cv::setNumThreads(threads);
        for (const auto& [batch, height, width] : std::vector<std::array<int, 3>>{
                 {1, 5, 7}, {2, 3, 4}, {1, 9, 300}, {1, 2, 1500}, {1, 1, 40}}) {
          SCOPED_TRACE(testing::Message()
                       << bits << " bits, " << kernel.height << "x" << kernel.width << ", "
                       << threads << " threads, " << batch << "x" << height << "x" << width);
          const cv::Mat input = randomBlob({batch, 3, height, width},
                                           static_cast<std::uint64_t>(height * 10000 + width));
          cv::Mat expected = referenceDense(input, weights, bias, kernel.padding);
          std::transform(expected.begin<float>(), expected.end<float>(), expected.begin<float>(),
                         [](float x) { return 0.75F * hardSwish(x) + 0.5F; });
          // A band of fewer than 16 pixels stays float.
          if (bits != 0 && (height * width >= 16 || width >= 16)) {
            expectNearInEightBits(run(net, input), expected);
          } else {
            expectNear(run(net, input), expected);
          }
        }
      }
    }
  }
  cv::setNumThreads(previousThreads);
}

// The definition of a transposed convolution whose stride is its kernel:
// output[o][y * kh + dy][x * kw + dx] = bias[o] + sum over i of
// weights[i][o][dy][dx] * input[i][y][x].
cv::Mat referencePatchTranspose(const cv::Mat& input, const cv::Mat& weights, const cv::Mat& bias) {
  const int kernelHeight = weights.size[2];
  const int kernelWidth = weights.size[3];
  const int sizes[] = {input.size[0], weights.size[1], input.size[2] * kernelHeight,
                       input.size[3] * kernelWidth};
  cv::Mat output(4, sizes, CV_32F);
  for (int n = 0; n < sizes[0]; ++n) {
    for (int o = 0; o < sizes[1]; ++o) {
      for (int oy = 0; oy < sizes[2]; ++oy) {
        for (int ox = 0; ox < sizes[3]; ++ox) {
          double sum = bias.ptr<float>()[o];
          for (int i = 0; i < input.size[1]; ++i) {
            const int w[] = {i, o, oy % kernelHeight, ox % kernelWidth};
            const int in[] = {n, i, oy / kernelHeight, ox / kernelWidth};
            sum += static_cast<double>(weights.at<float>(w)) * input.at<float>(in);
          }
          const int out[] = {n, o, oy, ox};
          output.at<float>(out) = static_cast<float>(sum);
        }
      }
    }
  }
  return output;
}

// Square and oblong patches, one output channel (the detection's last layer)
// and several, a batch of two, and inputs of one band and of several bands
// (2048 input pixels each), on one and two threads with an activation fused in.
TEST(NetworkLayers, PatchTransposeConvolutionMatchesTheDefinitionOnOneAndTwoThreads) {
  registerNetworkLayers();
  const int previousThreads = cv::getNumThreads();
  for (const auto& [outChannels, kernelHeight, kernelWidth] :
       std::vector<std::array<int, 3>>{{3, 2, 2}, {1, 2, 2}, {2, 3, 2}}) {
    const cv::Mat weights = randomBlob({5, outChannels, kernelHeight, kernelWidth}, 11);
    const cv::Mat bias = randomBlob({1, outChannels}, 12);
    cv::dnn::LayerParams params;
    params.name = "patches";
    params.type = "PatchTransposeConv";
    params.blobs = {weights, bias};
    cv::dnn::Net net;
    net.addLayerToPrev(params.name, params.type, params);
    cv::dnn::LayerParams activation = hardSwishParams(0.5F, 0.25F);
    net.addLayerToPrev(activation.name, activation.type, activation);
    for (const int threads : {1, 2}) {
      cv::setNumThreads(threads);
      for (const auto& [batch, height, width] :
           std::vector<std::array<int, 3>>{{1, 3, 7}, {2, 4, 5}, {1, 70, 90}}) {
        SCOPED_TRACE(testing::Message()
                     << outChannels << " out, " << kernelHeight << "x" << kernelWidth << ", "
                     << threads << " threads, " << batch << "x" << height << "x" << width);
        const cv::Mat input =
            randomBlob({batch, 5, height, width}, static_cast<std::uint64_t>(height * 100 + width));
        cv::Mat expected = referencePatchTranspose(input, weights, bias);
        std::transform(expected.begin<float>(), expected.end<float>(), expected.begin<float>(),
                       [](float x) { return 0.5F * hardSwish(x) + 0.25F; });
        expectNear(run(net, input), expected);
      }
    }
  }
  cv::setNumThreads(previousThreads);
}

// OpenCV fuses the activation into the layer before it and detaches it again
// whenever the input size changes; applying it twice or not at all both show.
TEST(NetworkLayers, AffineHardSwishFusedAfterADepthwiseConvolutionIsAppliedOnce) {
  registerNetworkLayers();
  const DepthwiseShape shape{5, 5, {2, 2, 2, 2}, {1, 1}};
  const cv::Mat weights = randomBlob({4, 1, 5, 5}, 3);
  const cv::Mat bias = randomBlob({1, 4}, 4);
  cv::dnn::Net net;
  cv::dnn::LayerParams depthwise = depthwiseParams(weights, bias, shape);
  net.addLayerToPrev(depthwise.name, depthwise.type, depthwise);
  cv::dnn::LayerParams activation = hardSwishParams(0.5F, -0.25F);
  net.addLayerToPrev(activation.name, activation.type, activation);
  for (const int width : {40, 9, 40}) {
    const cv::Mat input = randomBlob({1, 4, 6, width}, static_cast<std::uint64_t>(width));
    cv::Mat expected = referenceDepthwise(input, weights, bias, shape);
    std::transform(expected.begin<float>(), expected.end<float>(), expected.begin<float>(),
                   [](float x) { return 0.5F * hardSwish(x) - 0.25F; });
    expectNear(run(net, input), expected);
  }
}

TEST(NetworkLayers, AffineHardSwishOnItsOwnFollowsTheFormula) {
  registerNetworkLayers();
  cv::dnn::Net net;
  cv::dnn::LayerParams params = hardSwishParams(2.0F, 1.0F);
  net.addLayerToPrev(params.name, params.type, params);
  std::vector<float> points = {-10.0F, -3.0F, -1.5F, 0.0F, 1.0F, 3.0F, 10.0F};
  const int sizes[] = {1, 1, 1, static_cast<int>(points.size())};
  const cv::Mat input = cv::Mat(4, sizes, CV_32F, points.data()).clone();
  const cv::Mat output = run(net, input);
  const std::vector<float> expected = {1.0F, 1.0F, 0.25F, 1.0F, 2.0F * (4.0F / 6.0F) + 1.0F,
                                       7.0F, 21.0F};
  for (std::size_t i = 0; i < points.size(); ++i) {
    EXPECT_NEAR(output.ptr<float>()[i], expected[i], 1e-5) << "at " << points[i];
  }
}

// Wired as the graph wires it, map first and its weights second: every plane
// is scaled by its own channel's weight, on one thread and on two.
// With an offset of 1 it is the map plus its scaled self (a shortcut folded in).
TEST(NetworkLayers, ChannelScaleScalesEachPlaneByItsChannelsWeight) {
  registerNetworkLayers();
  const int previousThreads = cv::getNumThreads();
  for (const int threads : {1, 2}) {
    for (const float offset : {0.0F, 1.0F}) {
      cv::setNumThreads(threads);
      cv::dnn::Net net;
      net.setInputsNames({"map", "weights"});
      cv::dnn::LayerParams params;
      params.name = "scale";
      params.type = "ChannelScale";
      if (offset != 0.0F) params.set("offset", offset);
      const int id = net.addLayer(params.name, params.type, params);
      net.connect(0, 0, id, 0);
      net.connect(0, 1, id, 1);
      const cv::Mat map = randomBlob({1, 5, 7, 9}, 11);
      const cv::Mat weights = randomBlob({1, 5, 1, 1}, 12);
      net.setInput(map, "map");
      net.setInput(weights, "weights");
      const cv::Mat output = net.forward().clone();
      cv::Mat expected = map.clone();
      for (int c = 0; c < 5; ++c) {
        for (int i = 0; i < 7 * 9; ++i) {
          float& value = expected.ptr<float>()[c * 63 + i];
          value = value * weights.ptr<float>()[c] + offset * value;
        }
      }
      expectNear(output, expected);
    }
  }
  cv::setNumThreads(previousThreads);
}

// Each value over a factor x factor square, alone or added to a map of the
// enlarged size; factors 1, 2 and 8 (the detection's), a batch of two, odd
// widths, one and two threads.
TEST(NetworkLayers, NearestUpsampleRepeatsEachValueAndAddsTheSecondMap) {
  registerNetworkLayers();
  const int previousThreads = cv::getNumThreads();
  for (const int threads : {1, 2}) {
    cv::setNumThreads(threads);
    for (const int factor : {1, 2, 8}) {
      for (const bool adding : {false, true}) {
        cv::dnn::Net net;
        net.setInputsNames({"small", "addend"});
        cv::dnn::LayerParams params;
        params.name = "up";
        params.type = "NearestUpsample";
        params.set("factor", factor);
        const int id = net.addLayer(params.name, params.type, params);
        net.connect(0, 0, id, 0);
        if (adding) net.connect(0, 1, id, 1);
        const cv::Mat small = randomBlob({2, 3, 5, 7}, 21);
        const cv::Mat addend = randomBlob({2, 3, 5 * factor, 7 * factor}, 22);
        net.setInput(small, "small");
        if (adding) net.setInput(addend, "addend");
        const cv::Mat output = net.forward().clone();
        ASSERT_EQ(output.size[2], 5 * factor);
        ASSERT_EQ(output.size[3], 7 * factor);
        cv::Mat expected = adding ? addend.clone() : cv::Mat::zeros(4, addend.size.p, CV_32F);
        for (int plane = 0; plane < 6; ++plane) {
          for (int y = 0; y < 5 * factor; ++y) {
            for (int x = 0; x < 7 * factor; ++x) {
              expected.ptr<float>()[(plane * 5 * factor + y) * 7 * factor + x] +=
                  small.ptr<float>()[(plane * 5 + y / factor) * 7 + x / factor];
            }
          }
        }
        expectNear(output, expected);
      }
    }
  }
  cv::setNumThreads(previousThreads);
}

// Each token (a row of the last axis) times the weights plus the bias: a
// batch of two lines of 70 tokens splits into blocks on two threads, one
// line of 5 does not.
TEST(NetworkLayers, TokenLinearMultipliesEachTokenByTheWeightsAndAddsTheBias) {
  registerNetworkLayers();
  const int previousThreads = cv::getNumThreads();
  for (const int threads : {1, 2}) {
    for (const int tokens : {5, 70}) {
      cv::setNumThreads(threads);
      const int depth = 12;
      const int width = 7;
      const int lines = tokens == 70 ? 2 : 1;
      cv::dnn::LayerParams params;
      params.name = "linear";
      params.type = "TokenLinear";
      params.blobs = {randomBlob({depth, width}, 31), randomBlob({width}, 32)};
      cv::dnn::Net net;
      net.setInputsNames({"tokens"});
      const int id = net.addLayer(params.name, params.type, params);
      net.connect(0, 0, id, 0);
      const cv::Mat input = randomBlob({lines, tokens, depth}, 33);
      net.setInput(input, "tokens");
      const cv::Mat output = net.forward().clone();
      ASSERT_EQ(output.dims, 3);
      ASSERT_EQ(output.size[2], width);
      cv::Mat expected(3, output.size.p, CV_32F);
      for (int row = 0; row < lines * tokens; ++row) {
        for (int o = 0; o < width; ++o) {
          float sum = params.blobs[1].ptr<float>()[o];
          for (int i = 0; i < depth; ++i) {
            sum +=
                input.ptr<float>()[row * depth + i] * params.blobs[0].ptr<float>()[i * width + o];
          }
          expected.ptr<float>()[row * width + o] = sum;
        }
      }
      expectNear(output, expected);
    }
  }
  cv::setNumThreads(previousThreads);
}

// Logits arrive class-major ([1, classes, 1, frames]); the decoder wants one
// row of probabilities per frame.
TEST(NetworkLayers, ClassProbabilitiesAreASoftmaxPerFrame) {
  const int classes = 3;
  const int frames = 2;
  // frame 0: logits 0, 1, 2; frame 1: 1000, 1000, 0 (would overflow a naive exp)
  std::vector<float> logits = {0.0F, 1000.0F, 1.0F, 1000.0F, 2.0F, 0.0F};
  const int sizes[] = {1, classes, 1, frames};
  const cv::Mat blob(4, sizes, CV_32F, logits.data());
  ASSERT_EQ(TextLineReader::classCount(blob), 3U);
  const cv::Mat probabilities = TextLineReader::classProbabilities(blob);
  ASSERT_EQ(probabilities.rows, frames);
  ASSERT_EQ(probabilities.cols, classes);
  const float total = 1.0F + std::exp(1.0F) + std::exp(2.0F);
  EXPECT_NEAR(probabilities.at<float>(0, 0), 1.0F / total, 1e-6);
  EXPECT_NEAR(probabilities.at<float>(0, 2), std::exp(2.0F) / total, 1e-6);
  EXPECT_NEAR(probabilities.at<float>(1, 0), 0.5F, 1e-6);
  EXPECT_NEAR(probabilities.at<float>(1, 1), 0.5F, 1e-6);
  EXPECT_NEAR(probabilities.at<float>(1, 2), 0.0F, 1e-6);

  const int wrongSizes[] = {1, frames, classes};
  EXPECT_EQ(TextLineReader::classCount(cv::Mat(3, wrongSizes, CV_32F, cv::Scalar(0))), 0U);
}

}  // namespace
}  // namespace brindlewox
