// The integer matrix product under the 1x1 convolutions,
// C[rows x columns] += A[rows x depth] * B[depth x columns], where A is a
// layer's weights, quantised once when the layer is built, and B its input,
// quantised as the product runs. The float product (matrix_product.h) does
// 16 multiply-adds an instruction; the processor's VNNI instructions do 64
// in 8 bits and 32 in 16.
//
// A's rows are symmetric, each on a scale of its own (a layer's output
// channels differ in range by orders of magnitude). B's columns, one pixel's
// input channels each, are each on a scale of their own too: one scale for a
// whole map would leave its quiet pixels a handful of levels. Two precisions:
//  - 8 bits: int8 weights, uint8 inputs with a zero point (VNNI's dpbusd).
//  - 12 bits: weights and inputs of 12 bits, symmetric, held in int16
//    (dpwssd). The recognition network needs these: with int8 weights its
//    logits move by up to 2.8 on a 48x320 line, with 12 bits by 0.2, and its
//    character error on the real pages rises with the former.
// The products are summed exactly in int32 and scaled back to float.
//
// A QuantizedMatrix owns its packed weights and is read-only once built, so
// several threads may multiply with one at once; each call's scratch memory
// is its own.
#ifndef BRINDLEWOX_PLATFORM_RECOGNIZER_QUANTIZED_PRODUCT_H_
#define BRINDLEWOX_PLATFORM_RECOGNIZER_QUANTIZED_PRODUCT_H_

#include <cstdint>
#include <vector>

#include "platform/recognizer/matrix_product.h"

namespace brindlewox {

// Whether this processor has the integer product (AVX-512 with VNNI). Where
// it has not, the layers keep the float product.
bool quantizedProductAvailable();

// How finely B's columns are quantised.
enum class ProductPrecision { k8Bits, k12Bits };

// A matrix of weights quantised and packed for the kernel of one precision.
class QuantizedMatrix {
 public:
  // Quantises `weights`, [rows x depth]. In 12 bits the int32 sums hold at
  // most kMaxDepth12 steps.
  QuantizedMatrix(int rows, int depth, ConstMatrix weights,
                  ProductPrecision precision = ProductPrecision::k8Bits);

  static constexpr int kPanelRows = 6;
  static constexpr int kMaxDepth12 = 512;

  int rows() const { return rows_; }
  int depth() const { return depth_; }
  ProductPrecision precision() const { return precision_; }
  // Steps of the shared dimension one lane of the kernel sums: 4 in 8 bits, 2 in 12.
  int group() const { return precision_ == ProductPrecision::k8Bits ? 4 : 2; }
  // Steps of the shared dimension rounded up to whole groups.
  int paddedDepth() const { return paddedDepth_; }
  // What one step of `row` stands for: value = scale * level.
  float scale(int row) const { return scales_[static_cast<std::size_t>(row)]; }
  std::int32_t value(int row, int step) const;
  // The sum of a row's levels, which carries the input's zero point.
  std::int32_t rowSum(int row) const { return sums_[static_cast<std::size_t>(row)]; }
  // Panels of kPanelRows rows, each [paddedDepth / group][kPanelRows][group],
  // as int8 (8 bits) or int16 (12 bits).
  const std::int8_t* packed8() const { return packed8_.data(); }
  const std::int16_t* packed16() const { return packed16_.data(); }

 private:
  std::size_t packedIndex(int row, int step) const;

  int rows_;
  int depth_;
  ProductPrecision precision_;
  int paddedDepth_;
  std::vector<std::int8_t> packed8_;
  std::vector<std::int16_t> packed16_;
  std::vector<float> scales_;
  std::vector<std::int32_t> sums_;
};

// One column of B: value = scale * (q - zeroPoint).
struct ColumnQuantization {
  float scale;
  std::int32_t zeroPoint;
};

// How a column of `depth` values `stride` apart is quantised. In 8 bits: its
// range, widened to hold 0, over the 256 levels of a uint8. In 12 bits: its
// largest magnitude over 2047 levels either side of 0.
ColumnQuantization quantizeColumn(const float* column, int depth, int stride,
                                  ProductPrecision precision = ProductPrecision::k8Bits);

// c += a * b, b [a.depth() x columns]. Requires quantizedProductAvailable().
void accumulateQuantizedProduct(const QuantizedMatrix& a, int columns, ConstMatrix b, Matrix c);

// The same sums computed plainly, one multiply-add at a time, on any
// processor: what the kernel must reproduce exactly before its last float
// scaling.
void accumulateQuantizedProductPlain(const QuantizedMatrix& a, int columns, ConstMatrix b,
                                     Matrix c);

}  // namespace brindlewox

#endif  // BRINDLEWOX_PLATFORM_RECOGNIZER_QUANTIZED_PRODUCT_H_
