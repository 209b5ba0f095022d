// The 8-bit integer matrix product under the 1x1 convolutions,
// C[rows x columns] += A[rows x depth] * B[depth x columns], where A is a
// layer's weights, quantised once when the layer is built, and B its input,
// quantised as the product runs. The float product (matrix_product.h) does
// 16 multiply-adds an instruction; the processor's VNNI instruction does 64.
//
// A's rows are int8, symmetric, each on a scale of its own (a layer's output
// channels differ in range by orders of magnitude). B's columns, one pixel's
// input channels each, are uint8, each on its own scale and zero point: one
// scale for a whole map would leave its quiet pixels a handful of levels.
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

// A matrix of weights in int8, packed for the kernel.
class QuantizedMatrix {
 public:
  // Quantises `weights`, [rows x depth].
  QuantizedMatrix(int rows, int depth, ConstMatrix weights);

  int rows() const { return rows_; }
  int depth() const { return depth_; }
  // Steps of the shared dimension rounded up to the kernel's groups of four.
  int paddedDepth() const { return paddedDepth_; }
  // What one step of `row` stands for: value = scale * int8.
  float scale(int row) const { return scales_[static_cast<std::size_t>(row)]; }
  std::int8_t value(int row, int step) const;
  // The sum of a row's int8 values, which carries the input's zero point.
  std::int32_t rowSum(int row) const { return sums_[static_cast<std::size_t>(row)]; }
  // Panels of kPanelRows rows, each [paddedDepth / 4][kPanelRows][4].
  const std::int8_t* packed() const { return packed_.data(); }

  static constexpr int kPanelRows = 6;

 private:
  int rows_;
  int depth_;
  int paddedDepth_;
  std::vector<std::int8_t> packed_;
  std::vector<float> scales_;
  std::vector<std::int32_t> sums_;
};

// One column of B in uint8: value = scale * (q - zeroPoint).
struct ColumnQuantization {
  float scale;
  std::int32_t zeroPoint;
};

// How a column of `depth` values `stride` apart is quantised: its range,
// widened to hold 0, over the 256 levels.
ColumnQuantization quantizeColumn(const float* column, int depth, int stride);

// c += a * b, b [a.depth() x columns]. Requires quantizedProductAvailable().
void accumulateQuantizedProduct(const QuantizedMatrix& a, int columns, ConstMatrix b, Matrix c);

// The same sums computed plainly, one multiply-add at a time, on any
// processor: what the kernel must reproduce exactly before its last float
// scaling.
void accumulateQuantizedProductPlain(const QuantizedMatrix& a, int columns, ConstMatrix b, Matrix c);

}  // namespace brindlewox

#endif  // BRINDLEWOX_PLATFORM_RECOGNIZER_QUANTIZED_PRODUCT_H_
