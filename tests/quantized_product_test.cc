#include "platform/recognizer/quantized_product.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace brindlewox {
namespace {

std::vector<float> randomValues(std::size_t count, unsigned seed, float low, float high) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> value(low, high);
  std::vector<float> values(count);
  for (float& v : values) v = value(random);
  return values;
}

struct Shape {
  int rows, columns, depth;
  int padding;  // extra floats at the end of every row, so strides differ from widths
};

// Shapes that end inside a panel (rows not a multiple of 6), inside a column
// block (not of 64) and inside a step group (depth not of 4), as the
// recognition network's layers do.
const std::vector<Shape> kShapes = {{1, 16, 1, 0},     {6, 64, 8, 0},   {7, 65, 5, 3},
                                    {13, 100, 303, 1}, {48, 17, 48, 0}, {120, 200, 480, 2},
                                    {2, 1000, 3, 0},   {31, 64, 513, 4}};

// The weights' and the inputs' quantisation: each row and each column within
// half a step of its own scale, and the zero point at the input's zero.
TEST(QuantizedProduct, QuantisesEachRowAndColumnOnItsOwnScale) {
  // Rows of very different ranges: one scale for all would flatten the small one.
  const std::vector<float> weights = {0.5F, -1.0F, 0.25F, 0.0011F, -0.002F, 0.0005F, 0, 0, 0};
  const QuantizedMatrix matrix(3, 3, {weights.data(), 3});
  EXPECT_FLOAT_EQ(matrix.scale(0), 1.0F / 127);
  EXPECT_FLOAT_EQ(matrix.scale(1), 0.002F / 127);
  EXPECT_EQ(matrix.value(0, 1), -127);
  EXPECT_EQ(matrix.value(1, 1), -127);
  EXPECT_EQ(matrix.value(1, 0), 70);  // 0.0011 / (0.002 / 127) = 69.85
  EXPECT_EQ(matrix.rowSum(0), 64 - 127 + 32);
  EXPECT_EQ(matrix.value(2, 0), 0);  // an all-zero row stays zero, with no division by zero
  EXPECT_EQ(matrix.paddedDepth(), 4);

  // Every other value belongs to another column.
  const std::vector<float> column = {-1.0F, 99.0F, 0.5F, 99.0F, 0.25F, 99.0F};
  const ColumnQuantization q = quantizeColumn(column.data(), 3, 2);
  EXPECT_FLOAT_EQ(q.scale, 1.5F / 255);
  EXPECT_EQ(q.zeroPoint, 170);                                    // 1.0 / (1.5 / 255)
  const std::vector<float> positiveColumn = {3.0F, 7.0F, 11.0F};  // 0 is still a level
  const ColumnQuantization positive = quantizeColumn(positiveColumn.data(), 3, 1);
  EXPECT_EQ(positive.zeroPoint, 0);
  EXPECT_FLOAT_EQ(positive.scale, 11.0F / 255);
  // In 12 bits: symmetric about 0, over the larger magnitude.
  const ColumnQuantization fine = quantizeColumn(column.data(), 3, 2, ProductPrecision::k12Bits);
  EXPECT_EQ(fine.zeroPoint, 0);
  EXPECT_FLOAT_EQ(fine.scale, 1.0F / 2047);
  const QuantizedMatrix wide(3, 3, {weights.data(), 3}, ProductPrecision::k12Bits);
  EXPECT_EQ(wide.value(1, 0),
            1126);  // 0.0011 / (0.002 / 2047) = 1125.85: 12 bits for the weights too
  EXPECT_EQ(wide.value(1, 1), -2047);
  EXPECT_EQ(wide.paddedDepth(), 4);
}

// The integer sums against a plain loop: equal up to the last float scaling,
// on every shape; C starts non-zero (the layers put the bias there) and its
// padding stays untouched. Also close to the float product: the error of
// 8-bit steps, not of a wrong sum.
TEST(QuantizedProduct, KernelMatchesThePlainSumsAndTheFloatProduct) {
  if (!quantizedProductAvailable())
    GTEST_SKIP() << "this processor has no VNNI; the layers use floats";
  for (const ProductPrecision precision : {ProductPrecision::k8Bits, ProductPrecision::k12Bits}) {
    for (const Shape& s : kShapes) {
      if (precision == ProductPrecision::k12Bits && s.depth > QuantizedMatrix::kMaxDepth12)
        continue;
      const int aStride = s.depth + s.padding;
      const int bStride = s.columns + s.padding;
      const int cStride = s.columns + s.padding;
      const std::vector<float> a =
          randomValues(static_cast<std::size_t>(s.rows) * aStride, 1, -1.0F, 1.0F);
      // Activations after a hard-swish: mostly positive, a small negative tail.
      const std::vector<float> b =
          randomValues(static_cast<std::size_t>(s.depth) * bStride, 2, -0.375F, 4.0F);
      const std::vector<float> start =
          randomValues(static_cast<std::size_t>(s.rows) * cStride, 3, -1.0F, 1.0F);
      const QuantizedMatrix matrix(s.rows, s.depth, {a.data(), aStride}, precision);
      std::vector<float> kernel = start;
      std::vector<float> plain = start;
      accumulateQuantizedProduct(matrix, s.columns, {b.data(), bStride}, {kernel.data(), cStride});
      accumulateQuantizedProductPlain(matrix, s.columns, {b.data(), bStride},
                                      {plain.data(), cStride});
      const std::string where = std::string(precision == ProductPrecision::k8Bits ? "8" : "12") +
                                " bits, " + std::to_string(s.rows) + "x" +
                                std::to_string(s.columns) + "x" + std::to_string(s.depth);
      double worst = 0;
      for (int i = 0; i < s.rows; ++i) {
        for (int j = 0; j < cStride; ++j) {
          const std::size_t at = static_cast<std::size_t>(i) * cStride + j;
          if (j >= s.columns) {
            ASSERT_EQ(kernel[at], start[at]) << where << ": padding written at " << i << "," << j;
            continue;
          }
          ASSERT_NEAR(kernel[at], plain[at], 1e-5 * (1 + std::fabs(plain[at])))
              << where << " at " << i << "," << j;
          double exact = start[at];
          for (int k = 0; k < s.depth; ++k) {
            exact += static_cast<double>(a[static_cast<std::size_t>(i) * aStride + k]) *
                     b[static_cast<std::size_t>(k) * bStride + j];
          }
          worst = std::max(worst, std::fabs(kernel[at] - exact));
        }
      }
      // Each term is off by at most half a step of either factor; random
      // errors add up as the square root of the depth.
      EXPECT_LT(worst, 0.05 * std::sqrt(s.depth)) << where;
    }
  }
}

}  // namespace
}  // namespace brindlewox
