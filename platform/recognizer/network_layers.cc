#include "platform/recognizer/network_layers.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <mutex>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/dnn/all_layers.hpp>
#include <opencv2/dnn/layer.details.hpp>

#include <cblas.h>

#include "platform/recognizer/matrix_product.h"
#include "platform/recognizer/quantized_product.h"

// The loops below are what the time goes into; with GCC the binary carries
// AVX2 and AVX-512 versions of them and picks one when it starts.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define BRINDLEWOX_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define BRINDLEWOX_VECTOR_CLONES
#endif

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define BRINDLEWOX_AVX512_DEPTHWISE 1
#endif

namespace brindlewox {

namespace {

#ifdef BRINDLEWOX_AVX512_DEPTHWISE
// Four output rows at a time, sixteen outputs of each in a register, summed
// over every tap before they are stored: the four sums are independent, so
// the multiply-adds overlap.
__attribute__((target("avx512f"))) void depthwisePlaneAvx512(const float* input, int inputWidth,
                                                             const float* weights, int kernelHeight,
                                                             int kernelWidth, int stepY, float bias,
                                                             float* output, int outHeight,
                                                             int outWidth) {
  constexpr int kRows = 4;
  for (int firstRow = 0; firstRow < outHeight; firstRow += kRows) {
    const int rows = std::min(kRows, outHeight - firstRow);
    for (int x0 = 0; x0 < outWidth; x0 += 16) {
      const int count = std::min(16, outWidth - x0);
      const auto mask = static_cast<__mmask16>(count == 16 ? 0xFFFFU : (1U << count) - 1U);
      __m512 sums[kRows];  // NOLINT: a std::array would drop the vector type's alignment attribute
      for (__m512& sum : sums) sum = _mm512_set1_ps(bias);
      for (int ky = 0; ky < kernelHeight; ++ky) {
        std::array<const float*, kRows> in;
        for (int r = 0; r < kRows; ++r) {
          // Rows past the plane's end repeat its first one; they are not stored.
          const int oy = firstRow + (r < rows ? r : 0);
          in[r] = input + static_cast<std::ptrdiff_t>(oy * stepY + ky) * inputWidth + x0;
        }
        for (int kx = 0; kx < kernelWidth; ++kx) {
          const __m512 weight = _mm512_set1_ps(weights[ky * kernelWidth + kx]);
          for (int r = 0; r < kRows; ++r) {
            sums[r] = _mm512_fmadd_ps(weight, _mm512_maskz_loadu_ps(mask, in[r] + kx), sums[r]);
          }
        }
      }
      for (int r = 0; r < rows; ++r) {
        _mm512_mask_storeu_ps(output + static_cast<std::ptrdiff_t>(firstRow + r) * outWidth + x0,
                              mask, sums[r]);
      }
    }
  }
}
#endif  // BRINDLEWOX_AVX512_DEPTHWISE

BRINDLEWOX_VECTOR_CLONES
void depthwisePlaneByRows(const float* __restrict input, int inputWidth,
                          const float* __restrict weights, int kernelHeight, int kernelWidth,
                          int stepY, float bias, float* __restrict output, int outHeight,
                          int outWidth) {
  for (int oy = 0; oy < outHeight; ++oy) {
    float* row = output + static_cast<std::ptrdiff_t>(oy) * outWidth;
    for (int x = 0; x < outWidth; ++x) row[x] = bias;
    for (int ky = 0; ky < kernelHeight; ++ky) {
      const float* in = input + static_cast<std::ptrdiff_t>(oy * stepY + ky) * inputWidth;
      for (int kx = 0; kx < kernelWidth; ++kx) {
        const float weight = weights[ky * kernelWidth + kx];
        const float* source = in + kx;
        for (int x = 0; x < outWidth; ++x) row[x] += weight * source[x];
      }
    }
  }
}

}  // namespace

// Planes up to this wide are summed in registers; wider ones row by row,
// whose long rows vectorise well (a 1600-column line's planes are 400 wide:
// 16% faster so).
constexpr int kRegisterPlaneWidth = 128;

// One call per plane, not per kernel row: the recognition network's planes
// are a few pixels wide, and a call per row cost more than its arithmetic.
void convolveDepthwisePlane(const float* input, int inputWidth, const float* weights,
                            int kernelHeight, int kernelWidth, int stepY, float bias, float* output,
                            int outHeight, int outWidth) {
#ifdef BRINDLEWOX_AVX512_DEPTHWISE
  // The processor that runs the AVX-512 products runs this too.
  static const bool avx512 = fastestProductKernel() == ProductKernel::kAvx512;
  if (avx512 && outWidth <= kRegisterPlaneWidth) {
    depthwisePlaneAvx512(input, inputWidth, weights, kernelHeight, kernelWidth, stepY, bias, output,
                         outHeight, outWidth);
    return;
  }
#endif
  depthwisePlaneByRows(input, inputWidth, weights, kernelHeight, kernelWidth, stepY, bias, output,
                       outHeight, outWidth);
}

BRINDLEWOX_VECTOR_CLONES
void scalePlane(const float* __restrict input, float weight, float* __restrict output,
                std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) output[i] = input[i] * weight;
}

namespace {

// One row of a map enlarged by `factor` along x; with `addend`, added to it.
BRINDLEWOX_VECTOR_CLONES
void enlargeRow(const float* __restrict input, float* __restrict output, int width, int factor) {
  for (int x = 0; x < width; ++x) {
    for (int k = 0; k < factor; ++k) output[x * factor + k] = input[x];
  }
}

BRINDLEWOX_VECTOR_CLONES
void enlargeRowAdding(const float* __restrict input, const float* __restrict addend,
                      float* __restrict output, int width, int factor) {
  for (int x = 0; x < width; ++x) {
    for (int k = 0; k < factor; ++k) output[x * factor + k] = addend[x * factor + k] + input[x];
  }
}

}  // namespace

BRINDLEWOX_VECTOR_CLONES
void affineHardSwish(const float* input, float* output, std::size_t count, float scale,
                     float shift) {
  const float sixth = scale / 6.0F;
  for (std::size_t i = 0; i < count; ++i) {
    const float x = input[i];
    output[i] = x * std::min(std::max(x + 3.0F, 0.0F), 6.0F) * sixth + shift;
  }
}

namespace {

std::vector<int> intList(const cv::dnn::LayerParams& params, const std::string& key,
                         std::vector<int> otherwise) {
  if (!params.has(key)) return otherwise;
  const cv::dnn::DictValue& value = params.get(key);
  std::vector<int> result;
  for (int i = 0; i < value.size(); ++i) result.push_back(value.get<int>(i));
  return result;
}

// A layer's inputs and outputs, as OpenCV hands them over: our layers take
// continuous float blobs only.
struct LayerBlobs {
  std::vector<cv::Mat> inputs;
  std::vector<cv::Mat> outputs;
};

LayerBlobs floatBlobs(cv::InputArrayOfArrays inputsArray, cv::OutputArrayOfArrays outputsArray) {
  LayerBlobs blobs;
  inputsArray.getMatVector(blobs.inputs);
  outputsArray.getMatVector(blobs.outputs);
  for (const std::vector<cv::Mat>* list : {&blobs.inputs, &blobs.outputs}) {
    for (const cv::Mat& blob : *list) CV_Assert(blob.isContinuous() && blob.type() == CV_32F);
  }
  return blobs;
}

// y = scale * hardswish(x) + shift. Being an activation, OpenCV fuses it into
// the convolution before it.
class AffineHardSwishLayer : public cv::dnn::ActivationLayer {
 public:
  explicit AffineHardSwishLayer(const cv::dnn::LayerParams& params)
      : scale_(params.get<float>("scale", 1.0F)), shift_(params.get<float>("shift", 0.0F)) {
    setParamsFrom(params);
  }

  // In place, as OpenCV's own activations are: its memory planner expects it.
  bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int requiredOutputs,
                       std::vector<cv::dnn::MatShape>& outputs,
                       std::vector<cv::dnn::MatShape>& internals) const override {
    cv::dnn::Layer::getMemoryShapes(inputs, requiredOutputs, outputs, internals);
    return true;
  }

  using cv::dnn::ActivationLayer::forwardSlice;
  void forwardSlice(const float* src, float* dst, int len, std::size_t outPlaneSize, int cn0,
                    int cn1) const override {
    for (int channel = cn0; channel < cn1; ++channel, src += outPlaneSize, dst += outPlaneSize) {
      affineHardSwish(src, dst, static_cast<std::size_t>(len), scale_, shift_);
    }
  }

  void forward(cv::InputArrayOfArrays inputsArray, cv::OutputArrayOfArrays outputsArray,
               cv::OutputArrayOfArrays /*internals*/) override {
    LayerBlobs blobs = floatBlobs(inputsArray, outputsArray);
    for (std::size_t i = 0; i < blobs.inputs.size() && i < blobs.outputs.size(); ++i) {
      affineHardSwish(blobs.inputs[i].ptr<float>(), blobs.outputs[i].ptr<float>(),
                      blobs.inputs[i].total(), scale_, shift_);
    }
  }

 private:
  float scale_;
  float shift_;
};

// What the two convolution layers share: one float input and one output, and
// an activation that OpenCV may fuse into them.
class FusingLayer : public cv::dnn::Layer {
 public:
  explicit FusingLayer(const cv::dnn::LayerParams& params) { setParamsFrom(params); }

  // OpenCV detaches (an empty layer) before it fuses again for new input sizes.
  bool setActivation(const cv::Ptr<cv::dnn::ActivationLayer>& layer) override {
    if (!activation_.empty() && !layer.empty()) return false;
    activation_ = layer;
    return !activation_.empty();
  }

  void forward(cv::InputArrayOfArrays inputsArray, cv::OutputArrayOfArrays outputsArray,
               cv::OutputArrayOfArrays /*internals*/) override {
    LayerBlobs blobs = floatBlobs(inputsArray, outputsArray);
    run(blobs.inputs.at(0), blobs.outputs.at(0));
  }

 protected:
  virtual void run(const cv::Mat& input, cv::Mat& output) const = 0;

  // Applies the fused activation, if any, to `length` values in each of
  // `channels` planes `planeSize` apart.
  void activate(float* values, int length, std::size_t planeSize, int channels) const {
    if (!activation_.empty())
      activation_->forwardSlice(values, values, length, planeSize, 0, channels);
  }

 private:
  cv::Ptr<cv::dnn::ActivationLayer> activation_;
};

// A convolution with one filter per channel, of any kernel size. Each channel
// plane is copied once into a zero-bordered buffer, so the inner loop has no
// bounds checks and runs over whole rows.
class DepthwiseConvLayer : public FusingLayer {
 public:
  explicit DepthwiseConvLayer(const cv::dnn::LayerParams& params)
      : FusingLayer(params),
        padding_(intList(params, "padding", {0, 0, 0, 0})),
        step_(intList(params, "step", {1, 1})) {
    CV_Assert(blobs.size() == 2 && blobs[0].dims == 4 && blobs[0].size[1] == 1);
    CV_Assert(padding_.size() == 4 && step_.size() == 2 && step_[0] > 0 && step_[1] > 0);
    CV_Assert(static_cast<int>(blobs[1].total()) == blobs[0].size[0]);
  }

  bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int /*requiredOutputs*/,
                       std::vector<cv::dnn::MatShape>& outputs,
                       std::vector<cv::dnn::MatShape>& /*internals*/) const override {
    CV_Assert(inputs.size() == 1 && inputs[0].size() == 4 && inputs[0][1] == blobs[0].size[0]);
    const cv::dnn::MatShape& in = inputs[0];
    outputs.assign(1, {in[0], in[1], outputSize(in[2], 0), outputSize(in[3], 1)});
    CV_Assert((in[2] <= 0 || outputs[0][2] > 0) && (in[3] <= 0 || outputs[0][3] > 0));
    return false;
  }

 protected:
  void run(const cv::Mat& input, cv::Mat& output) const override {
    const int planes = input.size[0] * input.size[1];
    cv::parallel_for_(cv::Range(0, planes), [&](const cv::Range& range) {
      std::vector<float> padded;
      for (int plane = range.start; plane < range.end; ++plane)
        convolvePlane(input, output, plane, padded);
    });
  }

 private:
  int outputSize(int inputSize, int axis) const {
    // While a graph with free sizes is read, a size is a placeholder (0 or -1): pass it on.
    if (inputSize <= 0) return inputSize;
    const int kernel = blobs[0].size[2 + axis];
    return (inputSize + padding_[axis] + padding_[axis + 2] - kernel) / step_[axis] + 1;
  }

  void convolvePlane(const cv::Mat& input, cv::Mat& output, int plane,
                     std::vector<float>& padded) const {
    const int channels = input.size[1];
    const int channel = plane % channels;
    const int height = input.size[2];
    const int width = input.size[3];
    const int kernelHeight = blobs[0].size[2];
    const int kernelWidth = blobs[0].size[3];
    const int paddedWidth = width + padding_[1] + padding_[3];
    const int paddedHeight = height + padding_[0] + padding_[2];
    padded.assign(static_cast<std::size_t>(paddedWidth) * paddedHeight, 0.0F);
    const float* source = input.ptr<float>() + static_cast<std::size_t>(plane) * height * width;
    for (int y = 0; y < height; ++y) {
      std::copy_n(source + static_cast<std::size_t>(y) * width, width,
                  padded.begin() + static_cast<std::ptrdiff_t>(y + padding_[0]) * paddedWidth +
                      padding_[1]);
    }

    const int outHeight = output.size[2];
    const int outWidth = output.size[3];
    const float* weights =
        blobs[0].ptr<float>() + static_cast<std::size_t>(channel) * kernelHeight * kernelWidth;
    const float bias = blobs[1].ptr<float>()[channel];
    float* target = output.ptr<float>() + static_cast<std::size_t>(plane) * outHeight * outWidth;
    if (step_[1] == 1) {
      convolveDepthwisePlane(padded.data(), paddedWidth, weights, kernelHeight, kernelWidth,
                             step_[0], bias, target, outHeight, outWidth);
    } else {
      for (int oy = 0; oy < outHeight; ++oy) {
        float* row = target + static_cast<std::size_t>(oy) * outWidth;
        std::fill_n(row, outWidth, bias);
        for (int ky = 0; ky < kernelHeight; ++ky) {
          const float* in =
              padded.data() + static_cast<std::size_t>(oy * step_[0] + ky) * paddedWidth;
          for (int kx = 0; kx < kernelWidth; ++kx) {
            for (int ox = 0; ox < outWidth; ++ox)
              row[ox] += weights[ky * kernelWidth + kx] * in[ox * step_[1] + kx];
          }
        }
      }
    }
    activate(target, outHeight * outWidth, 0, 1);
  }

  std::vector<int> padding_;  // top, left, bottom, right
  std::vector<int> step_;     // vertical, horizontal
};

// The weights of a node the model preparation marked "quantized", quantised for
// the precision it gives ("bits", 8 by default, or 12); none where the
// processor has no integer product, the node is unmarked, or its 12-bit
// sums could overflow.
std::unique_ptr<QuantizedMatrix> quantizedWeights(const cv::dnn::LayerParams& params, int rows,
                                                  int depth, const float* weights) {
  if (params.get<int>("quantized", 0) == 0 || !quantizedProductAvailable()) return nullptr;
  const ProductPrecision precision =
      params.get<int>("bits", 8) == 12 ? ProductPrecision::k12Bits : ProductPrecision::k8Bits;
  if (precision == ProductPrecision::k12Bits && depth > QuantizedMatrix::kMaxDepth12)
    return nullptr;
  return std::make_unique<QuantizedMatrix>(rows, depth, ConstMatrix{weights, depth}, precision);
}

// c += weights * b for the convolution layers: in integers where the layer's
// weights were quantised, except for products narrower than 16 columns (the
// squeeze-and-excitation layers' single pixel), which would mostly multiply
// the integer kernel's padding and stay in float.
void layerProduct(const QuantizedMatrix* quantized, int rows, int columns, int depth,
                  const float* weights, ConstMatrix b, Matrix c) {
  constexpr int kNarrowestQuantized = 16;
  if (quantized != nullptr && columns >= kNarrowestQuantized) {
    accumulateQuantizedProduct(*quantized, columns, b, c);
  } else {
    accumulateProduct(rows, columns, depth, {weights, depth}, b, c);
  }
}

// A 1x1 convolution is a matrix product, [out x in] by [in x pixels]; as one
// (matrix_product.h) it runs 2-4 times as fast as in OpenCV 4.6's convolution. The pixels are
// split into column blocks for OpenCV's threads, each block one product. A node
// the model preparation marks "quantized" multiplies in integers
// (quantized_product.h) where the processor has the instruction for it.
class PointwiseConvLayer : public FusingLayer {
 public:
  explicit PointwiseConvLayer(const cv::dnn::LayerParams& params) : FusingLayer(params) {
    CV_Assert(blobs.size() == 2 && blobs[0].dims == 4 && blobs[0].size[2] == 1 &&
              blobs[0].size[3] == 1);
    CV_Assert(static_cast<int>(blobs[1].total()) == blobs[0].size[0] && blobs[0].isContinuous());
    quantized_ =
        quantizedWeights(params, blobs[0].size[0], blobs[0].size[1], blobs[0].ptr<float>());
  }

  bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int /*requiredOutputs*/,
                       std::vector<cv::dnn::MatShape>& outputs,
                       std::vector<cv::dnn::MatShape>& /*internals*/) const override {
    CV_Assert(inputs.size() == 1 && inputs[0].size() == 4 && inputs[0][1] == blobs[0].size[1]);
    outputs.assign(1, {inputs[0][0], blobs[0].size[0], inputs[0][2], inputs[0][3]});
    return false;
  }

 protected:
  void run(const cv::Mat& input, cv::Mat& output) const override {
    const int batch = input.size[0];
    const int pixels = input.size[2] * input.size[3];
    // Blocks narrower than this make the products inefficient.
    constexpr int kMinimumBlock = 256;
    const int blocks = std::max(1, std::min(cv::getNumThreads(), pixels / kMinimumBlock));
    cv::parallel_for_(cv::Range(0, batch * blocks), [&](const cv::Range& range) {
      for (int task = range.start; task < range.end; ++task) {
        const int block = task % blocks;
        const int first = static_cast<int>(static_cast<std::int64_t>(pixels) * block / blocks);
        const int last = static_cast<int>(static_cast<std::int64_t>(pixels) * (block + 1) / blocks);
        multiply(input, output, task / blocks, first, last - first);
      }
    });
  }

 private:
  void multiply(const cv::Mat& input, cv::Mat& output, int image, int firstPixel, int width) const {
    const int outChannels = blobs[0].size[0];
    const int inChannels = blobs[0].size[1];
    const int pixels = input.size[2] * input.size[3];
    const float* source =
        input.ptr<float>() + static_cast<std::size_t>(image) * inChannels * pixels + firstPixel;
    float* target =
        output.ptr<float>() + static_cast<std::size_t>(image) * outChannels * pixels + firstPixel;
    const float* bias = blobs[1].ptr<float>();
    for (int channel = 0; channel < outChannels; ++channel) {
      std::fill_n(target + static_cast<std::size_t>(channel) * pixels, width, bias[channel]);
    }
    layerProduct(quantized_.get(), outChannels, width, inChannels, blobs[0].ptr<float>(),
                 {source, pixels}, {target, pixels});
    activate(target, width, static_cast<std::size_t>(pixels), outChannels);
  }

  std::unique_ptr<QuantizedMatrix> quantized_;
};

// A convolution with a kernel over 1x1, stride 1 and no groups. For each band
// of output rows the input under the kernel is laid out as a matrix, one
// column per output pixel and one row per input channel and kernel tap, and
// multiplied by the weights, [out x in * kh * kw] (matrix_product.h), or in
// integers where the node is marked "quantized". Bands bound the matrix's
// memory and are shared among OpenCV's threads.
class DenseConvLayer : public FusingLayer {
 public:
  explicit DenseConvLayer(const cv::dnn::LayerParams& params)
      : FusingLayer(params), padding_(intList(params, "padding", {0, 0, 0, 0})) {
    CV_Assert(blobs.size() == 2 && blobs[0].dims == 4 && blobs[0].isContinuous());
    CV_Assert(padding_.size() == 4 && static_cast<int>(blobs[1].total()) == blobs[0].size[0]);
    quantized_ = quantizedWeights(params, blobs[0].size[0],
                                  blobs[0].size[1] * blobs[0].size[2] * blobs[0].size[3],
                                  blobs[0].ptr<float>());
  }

  bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int /*requiredOutputs*/,
                       std::vector<cv::dnn::MatShape>& outputs,
                       std::vector<cv::dnn::MatShape>& /*internals*/) const override {
    CV_Assert(inputs.size() == 1 && inputs[0].size() == 4 && inputs[0][1] == blobs[0].size[1]);
    const cv::dnn::MatShape& in = inputs[0];
    outputs.assign(1, {in[0], blobs[0].size[0], outputSize(in[2], 0), outputSize(in[3], 1)});
    CV_Assert((in[2] <= 0 || outputs[0][2] > 0) && (in[3] <= 0 || outputs[0][3] > 0));
    return false;
  }

 protected:
  void run(const cv::Mat& input, cv::Mat& output) const override {
    const int outHeight = output.size[2];
    const int outWidth = output.size[3];
    // About this many output pixels per product: wide enough to run at speed,
    // and the laid-out input (in * kh * kw rows of them) stays a few megabytes.
    constexpr int kBandPixels = 1024;
    const int bandRows = std::max(1, kBandPixels / std::max(1, outWidth));
    const int bands = (outHeight + bandRows - 1) / bandRows;
    cv::parallel_for_(cv::Range(0, input.size[0] * bands), [&](const cv::Range& range) {
      std::vector<float> columns;
      for (int task = range.start; task < range.end; ++task) {
        const int first = task % bands * bandRows;
        convolveBand(input, output, task / bands, first, std::min(outHeight, first + bandRows),
                     columns);
      }
    });
  }

 private:
  int outputSize(int inputSize, int axis) const {
    if (inputSize <= 0) return inputSize;  // a placeholder while a graph with free sizes is read
    return inputSize + padding_[axis] + padding_[axis + 2] - blobs[0].size[2 + axis] + 1;
  }

  void convolveBand(const cv::Mat& input, cv::Mat& output, int image, int firstRow, int lastRow,
                    std::vector<float>& columns) const {
    const int inChannels = input.size[1];
    const int height = input.size[2];
    const int width = input.size[3];
    const int outChannels = blobs[0].size[0];
    const int kernelHeight = blobs[0].size[2];
    const int kernelWidth = blobs[0].size[3];
    const int outWidth = output.size[3];
    const std::size_t plane = static_cast<std::size_t>(output.size[2]) * outWidth;
    const int pixels = (lastRow - firstRow) * outWidth;
    const int depth = inChannels * kernelHeight * kernelWidth;
    // Taps that fall on the padding stay zero.
    columns.assign(static_cast<std::size_t>(depth) * pixels, 0.0F);
    const float* source =
        input.ptr<float>() + static_cast<std::size_t>(image) * inChannels * height * width;
    for (int channel = 0; channel < inChannels; ++channel) {
      for (int ky = 0; ky < kernelHeight; ++ky) {
        for (int kx = 0; kx < kernelWidth; ++kx) {
          // Output column x reads input column x + shift.
          const int shift = kx - padding_[1];
          const int begin = std::max(0, -shift);
          const int end = std::min(outWidth, width - shift);
          float* tap =
              columns.data() +
              static_cast<std::size_t>((channel * kernelHeight + ky) * kernelWidth + kx) * pixels;
          for (int oy = firstRow; oy < lastRow && begin < end; ++oy) {
            const int iy = oy + ky - padding_[0];
            if (iy < 0 || iy >= height) continue;
            const float* row = source + (static_cast<std::size_t>(channel) * height + iy) * width;
            std::copy(row + begin + shift, row + end + shift,
                      tap + static_cast<std::ptrdiff_t>(oy - firstRow) * outWidth + begin);
          }
        }
      }
    }
    float* target = output.ptr<float>() + static_cast<std::size_t>(image) * outChannels * plane +
                    static_cast<std::size_t>(firstRow) * outWidth;
    const float* bias = blobs[1].ptr<float>();
    for (int channel = 0; channel < outChannels; ++channel)
      std::fill_n(target + channel * plane, pixels, bias[channel]);
    layerProduct(quantized_.get(), outChannels, pixels, depth, blobs[0].ptr<float>(),
                 {columns.data(), pixels}, {target, static_cast<int>(plane)});
    activate(target, pixels, plane, outChannels);
  }

  std::vector<int> padding_;  // top, left, bottom, right
  std::unique_ptr<QuantizedMatrix> quantized_;
};

// A transposed convolution whose stride equals its kernel, without padding:
// each input pixel writes its own kh x kw patch of the output, so the whole
// layer is one matrix product, [out * kh * kw x in] by [in x pixels], whose
// rows are then laid out as patches. OpenCV 4.6 runs these at a tenth of the
// product's rate (10% of a detection forward). Bands of input rows bound the
// product's memory and are shared among OpenCV's threads.
class PatchTransposeConvLayer : public FusingLayer {
 public:
  explicit PatchTransposeConvLayer(const cv::dnn::LayerParams& params) : FusingLayer(params) {
    CV_Assert(blobs.size() == 2 && blobs[0].dims == 4 && blobs[0].isContinuous());
    CV_Assert(static_cast<int>(blobs[1].total()) == blobs[0].size[1]);
    const int inChannels = blobs[0].size[0];
    const int rows = blobs[0].size[1] * blobs[0].size[2] * blobs[0].size[3];
    // [in][out][kh][kw] transposed to one row per output channel and patch offset.
    weights_.resize(static_cast<std::size_t>(rows) * inChannels);
    for (int in = 0; in < inChannels; ++in) {
      for (int row = 0; row < rows; ++row) {
        weights_[static_cast<std::size_t>(row) * inChannels + in] =
            blobs[0].ptr<float>()[static_cast<std::size_t>(in) * rows + row];
      }
    }
  }

  bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int /*requiredOutputs*/,
                       std::vector<cv::dnn::MatShape>& outputs,
                       std::vector<cv::dnn::MatShape>& /*internals*/) const override {
    CV_Assert(inputs.size() == 1 && inputs[0].size() == 4 && inputs[0][1] == blobs[0].size[0]);
    const cv::dnn::MatShape& in = inputs[0];
    // While a graph with free sizes is read, a size is a placeholder (0 or -1): pass it on.
    outputs.assign(1, {in[0], blobs[0].size[1], in[2] > 0 ? in[2] * blobs[0].size[2] : in[2],
                       in[3] > 0 ? in[3] * blobs[0].size[3] : in[3]});
    return false;
  }

 protected:
  void run(const cv::Mat& input, cv::Mat& output) const override {
    const int height = input.size[2];
    const int width = input.size[3];
    constexpr int kBandPixels = 2048;
    const int bandRows = std::max(1, kBandPixels / std::max(1, width));
    const int bands = (height + bandRows - 1) / bandRows;
    cv::parallel_for_(cv::Range(0, input.size[0] * bands), [&](const cv::Range& range) {
      std::vector<float> patches;
      for (int task = range.start; task < range.end; ++task) {
        const int first = task % bands * bandRows;
        convolveBand(input, output, task / bands, first, std::min(height, first + bandRows),
                     patches);
      }
    });
  }

 private:
  void convolveBand(const cv::Mat& input, cv::Mat& output, int image, int firstRow, int lastRow,
                    std::vector<float>& patches) const {
    const int inChannels = input.size[1];
    const int width = input.size[3];
    const int outChannels = blobs[0].size[1];
    const int kernelHeight = blobs[0].size[2];
    const int kernelWidth = blobs[0].size[3];
    const int rows = outChannels * kernelHeight * kernelWidth;
    const int pixels = (lastRow - firstRow) * width;
    const std::size_t inPlane = static_cast<std::size_t>(input.size[2]) * width;
    patches.assign(static_cast<std::size_t>(rows) * pixels, 0.0F);
    const float* source = input.ptr<float>() +
                          static_cast<std::size_t>(image) * inChannels * inPlane +
                          static_cast<std::size_t>(firstRow) * width;
    accumulateProduct(rows, pixels, inChannels, {weights_.data(), inChannels},
                      {source, static_cast<int>(inPlane)}, {patches.data(), pixels});
    const int outWidth = output.size[3];
    const std::size_t outPlane = static_cast<std::size_t>(output.size[2]) * outWidth;
    float* target = output.ptr<float>() + static_cast<std::size_t>(image) * outChannels * outPlane;
    const float* bias = blobs[1].ptr<float>();
    for (int channel = 0; channel < outChannels; ++channel) {
      for (int dy = 0; dy < kernelHeight; ++dy) {
        for (int dx = 0; dx < kernelWidth; ++dx) {
          const float* patch =
              patches.data() +
              static_cast<std::size_t>((channel * kernelHeight + dy) * kernelWidth + dx) * pixels;
          for (int y = firstRow; y < lastRow; ++y) {
            float* row = target + channel * outPlane +
                         static_cast<std::size_t>(y * kernelHeight + dy) * outWidth + dx;
            const float* values = patch + static_cast<std::ptrdiff_t>(y - firstRow) * width;
            for (int x = 0; x < width; ++x)
              row[static_cast<std::ptrdiff_t>(x) * kernelWidth] = values[x] + bias[channel];
          }
        }
      }
    }
    activate(target + static_cast<std::size_t>(firstRow) * kernelHeight * outWidth,
             (lastRow - firstRow) * kernelHeight * outWidth, outPlane, outChannels);
  }

  std::vector<float> weights_;  // [out * kh * kw x in]
};

// A map times one weight per channel (squeeze-and-excitation): out[n, c] =
// map[n, c] * (weights[n, c] + offset), plane by plane on OpenCV's threads.
// OpenCV 4.6 broadcasts the weights one element at a time.
class ChannelScaleLayer : public cv::dnn::Layer {
 public:
  explicit ChannelScaleLayer(const cv::dnn::LayerParams& params)
      : offset_(params.get<float>("offset", 0.0F)) {
    setParamsFrom(params);
  }

  bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int /*requiredOutputs*/,
                       std::vector<cv::dnn::MatShape>& outputs,
                       std::vector<cv::dnn::MatShape>& /*internals*/) const override {
    // While the graph is read, OpenCV gives a global pooling's output the
    // size of its input; the weights' shape is checked when they arrive.
    CV_Assert(inputs.size() == 2 && inputs[0].size() == 4 && inputs[1].size() == 4 &&
              inputs[1][1] == inputs[0][1]);
    outputs.assign(1, inputs[0]);
    return false;
  }

  void forward(cv::InputArrayOfArrays inputsArray, cv::OutputArrayOfArrays outputsArray,
               cv::OutputArrayOfArrays /*internals*/) override {
    LayerBlobs blobs = floatBlobs(inputsArray, outputsArray);
    const cv::Mat& map = blobs.inputs.at(0);
    CV_Assert(blobs.inputs.at(1).total() == static_cast<std::size_t>(map.size[0]) * map.size[1]);
    const float* weights = blobs.inputs.at(1).ptr<float>();
    float* output = blobs.outputs.at(0).ptr<float>();
    const std::size_t planeSize = static_cast<std::size_t>(map.size[2]) * map.size[3];
    cv::parallel_for_(cv::Range(0, map.size[0] * map.size[1]), [&](const cv::Range& range) {
      for (int plane = range.start; plane < range.end; ++plane) {
        scalePlane(map.ptr<float>() + plane * planeSize, weights[plane] + offset_,
                   output + plane * planeSize, planeSize);
      }
    });
  }

 private:
  float offset_;  // 1 where the map's shortcut was added back: x + x * w = x * (w + 1)
};

// A linear layer over tokens: each row of the input's last axis times the
// weights [in x out], plus the bias, as one matrix product with the tokens
// on the left (matrix_product.h). OpenCV 4.6 runs it as InnerProduct at a
// sixth of that rate.
class TokenLinearLayer : public cv::dnn::Layer {
 public:
  explicit TokenLinearLayer(const cv::dnn::LayerParams& params) {
    setParamsFrom(params);
    CV_Assert(blobs.size() == 2 && blobs[0].dims == 2 && blobs[0].isContinuous() &&
              blobs[0].type() == CV_32F && blobs[1].type() == CV_32F);
    CV_Assert(static_cast<int>(blobs[1].total()) == blobs[0].size[1]);
  }

  bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int /*requiredOutputs*/,
                       std::vector<cv::dnn::MatShape>& outputs,
                       std::vector<cv::dnn::MatShape>& /*internals*/) const override {
    CV_Assert(inputs.size() == 1 && !inputs[0].empty() && inputs[0].back() == blobs[0].size[0]);
    outputs.assign(1, inputs[0]);
    outputs[0].back() = blobs[0].size[1];
    return false;
  }

  void forward(cv::InputArrayOfArrays inputsArray, cv::OutputArrayOfArrays outputsArray,
               cv::OutputArrayOfArrays /*internals*/) override {
    LayerBlobs layerBlobs = floatBlobs(inputsArray, outputsArray);
    const cv::Mat& input = layerBlobs.inputs.at(0);
    cv::Mat& output = layerBlobs.outputs.at(0);
    const int depth = blobs[0].size[0];
    const int width = blobs[0].size[1];
    const auto rows = static_cast<int>(input.total() / static_cast<std::size_t>(depth));
    const float* bias = blobs[1].ptr<float>();
    // Blocks of rows on OpenCV's threads; a line's forty-odd tokens are one.
    constexpr int kMinimumRows = 64;
    const int blocks = std::max(1, std::min(cv::getNumThreads(), rows / kMinimumRows));
    cv::parallel_for_(cv::Range(0, blocks), [&](const cv::Range& range) {
      for (int block = range.start; block < range.end; ++block) {
        const int first = rows * block / blocks;
        const int last = rows * (block + 1) / blocks;
        float* target = output.ptr<float>() + static_cast<std::size_t>(first) * width;
        for (int row = first; row < last; ++row) {
          std::copy_n(bias, width, target + static_cast<std::size_t>(row - first) * width);
        }
        accumulateProduct(last - first, width, depth,
                          {input.ptr<float>() + static_cast<std::size_t>(first) * depth, depth},
                          {blobs[0].ptr<float>(), width}, {target, width});
      }
    });
  }
};

// A map enlarged by a whole factor, each value repeated over a factor x
// factor square (nearest neighbour), plane by plane on OpenCV's threads:
// OpenCV 4.6's Resize runs on one. With a second input of the enlarged size,
// the output is that map plus the enlarged one, which is never stored.
class NearestUpsampleLayer : public cv::dnn::Layer {
 public:
  explicit NearestUpsampleLayer(const cv::dnn::LayerParams& params)
      : factor_(params.get<int>("factor", 1)) {
    setParamsFrom(params);
    CV_Assert(factor_ >= 1);
  }

  bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int /*requiredOutputs*/,
                       std::vector<cv::dnn::MatShape>& outputs,
                       std::vector<cv::dnn::MatShape>& /*internals*/) const override {
    CV_Assert((inputs.size() == 1 || inputs.size() == 2) && inputs[0].size() == 4);
    cv::dnn::MatShape enlarged = inputs[0];
    // While a graph with free sizes is read, a size is a placeholder (0 or -1): pass it on.
    for (int axis = 2; axis < 4; ++axis) {
      if (enlarged[axis] > 0) enlarged[axis] *= factor_;
    }
    if (inputs.size() == 2) {
      CV_Assert(inputs[1].size() == 4 && inputs[1][1] == inputs[0][1]);
      for (int axis = 2; axis < 4; ++axis) {
        CV_Assert(enlarged[axis] <= 0 || inputs[1][axis] <= 0 || enlarged[axis] == inputs[1][axis]);
      }
    }
    outputs.assign(1, enlarged);
    return false;
  }

  void forward(cv::InputArrayOfArrays inputsArray, cv::OutputArrayOfArrays outputsArray,
               cv::OutputArrayOfArrays /*internals*/) override {
    LayerBlobs blobs = floatBlobs(inputsArray, outputsArray);
    const cv::Mat& small = blobs.inputs.at(0);
    const float* addend = blobs.inputs.size() > 1 ? blobs.inputs[1].ptr<float>() : nullptr;
    cv::Mat& output = blobs.outputs.at(0);
    const int height = small.size[2];
    const int width = small.size[3];
    const int outHeight = output.size[2];
    const int outWidth = output.size[3];
    CV_Assert(outHeight == height * factor_ && outWidth == width * factor_);
    const std::size_t inPlane = static_cast<std::size_t>(height) * width;
    const std::size_t outPlane = static_cast<std::size_t>(outHeight) * outWidth;
    cv::parallel_for_(cv::Range(0, small.size[0] * small.size[1]), [&](const cv::Range& range) {
      for (int plane = range.start; plane < range.end; ++plane) {
        for (int y = 0; y < outHeight; ++y) {
          const float* in =
              small.ptr<float>() + plane * inPlane + static_cast<std::size_t>(y / factor_) * width;
          const std::size_t at = plane * outPlane + static_cast<std::size_t>(y) * outWidth;
          float* out = output.ptr<float>() + at;
          if (addend != nullptr) {
            enlargeRowAdding(in, addend + at, out, width, factor_);
          } else {
            enlargeRow(in, out, width, factor_);
          }
        }
      }
    });
  }

 private:
  int factor_;
};

// Normalisation over the last axis, row by row on OpenCV's threads:
// y = (x - mean) / sqrt(variance + epsilon) * weights + bias. OpenCV 4.6 has
// no such layer, and its chain of means and broadcasts takes a batch's first
// line's statistics for every line.
class LastAxisNormLayer : public cv::dnn::Layer {
 public:
  explicit LastAxisNormLayer(const cv::dnn::LayerParams& params)
      : epsilon_(params.get<float>("epsilon", 1e-5F)) {
    setParamsFrom(params);
    CV_Assert(blobs.size() == 2 && blobs[0].total() == blobs[1].total() &&
              blobs[0].type() == CV_32F && blobs[1].type() == CV_32F);
  }

  bool getMemoryShapes(const std::vector<cv::dnn::MatShape>& inputs, int /*requiredOutputs*/,
                       std::vector<cv::dnn::MatShape>& outputs,
                       std::vector<cv::dnn::MatShape>& /*internals*/) const override {
    CV_Assert(inputs.size() == 1 && !inputs[0].empty() &&
              static_cast<std::size_t>(inputs[0].back()) == blobs[0].total());
    outputs.assign(1, inputs[0]);
    return false;
  }

  void forward(cv::InputArrayOfArrays inputsArray, cv::OutputArrayOfArrays outputsArray,
               cv::OutputArrayOfArrays /*internals*/) override {
    LayerBlobs layerBlobs = floatBlobs(inputsArray, outputsArray);
    const cv::Mat& input = layerBlobs.inputs.at(0);
    const std::size_t width = blobs[0].total();
    const auto rows = static_cast<int>(input.total() / width);
    const float* weights = blobs[0].ptr<float>();
    const float* bias = blobs[1].ptr<float>();
    float* output = layerBlobs.outputs.at(0).ptr<float>();
    cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& range) {
      for (int row = range.start; row < range.end; ++row) {
        const float* x = input.ptr<float>() + static_cast<std::size_t>(row) * width;
        float* y = output + static_cast<std::size_t>(row) * width;
        double sum = 0;
        for (std::size_t i = 0; i < width; ++i) sum += x[i];
        const double mean = sum / static_cast<double>(width);
        double squares = 0;
        for (std::size_t i = 0; i < width; ++i) squares += (x[i] - mean) * (x[i] - mean);
        const double scale = 1.0 / std::sqrt(squares / static_cast<double>(width) + epsilon_);
        for (std::size_t i = 0; i < width; ++i) {
          y[i] = static_cast<float>((x[i] - mean) * scale) * weights[i] + bias[i];
        }
      }
    });
  }

 private:
  float epsilon_;
};

template <class LayerType>
cv::Ptr<cv::dnn::Layer> create(cv::dnn::LayerParams& params) {
  return cv::makePtr<LayerType>(params);
}

}  // namespace

void registerNetworkLayers() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The readers already run one per core; OpenBLAS must not add threads of its own.
    openblas_set_num_threads(1);
    cv::dnn::LayerFactory::registerLayer("DepthwiseConv", create<DepthwiseConvLayer>);
    cv::dnn::LayerFactory::registerLayer("PointwiseConv", create<PointwiseConvLayer>);
    cv::dnn::LayerFactory::registerLayer("DenseConv", create<DenseConvLayer>);
    cv::dnn::LayerFactory::registerLayer("AffineHardSwish", create<AffineHardSwishLayer>);
    cv::dnn::LayerFactory::registerLayer("ChannelScale", create<ChannelScaleLayer>);
    cv::dnn::LayerFactory::registerLayer("PatchTransposeConv", create<PatchTransposeConvLayer>);
    cv::dnn::LayerFactory::registerLayer("LastAxisNorm", create<LastAxisNormLayer>);
    cv::dnn::LayerFactory::registerLayer("NearestUpsample", create<NearestUpsampleLayer>);
    cv::dnn::LayerFactory::registerLayer("TokenLinear", create<TokenLinearLayer>);
  });
}

cv::dnn::Net readNetwork(const std::string& path) {
  registerNetworkLayers();
  return cv::dnn::readNetFromONNX(path);
}

}  // namespace brindlewox
