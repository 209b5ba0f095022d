#include "platform/recognizer/matrix_product.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace brindlewox {
namespace {

struct Shape {
  int rows, columns, depth;
  int padding;  // extra floats at the end of every row, so strides differ from widths
};

std::vector<float> randomValues(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> value(-1.0F, 1.0F);
  std::vector<float> values(count);
  for (float& v : values) v = value(random);
  return values;
}

// Every kernel the processor has, on shapes that end inside a register block
// (rows not a multiple of 6, columns not of 64), span several blocks of the
// shared dimension, are narrower than a vector, or are a single element; C
// starts non-zero (the layers put the bias there) and its padding must stay
// untouched.
TEST(MatrixProduct, EveryKernelAddsTheProductToC) {
  const std::vector<Shape> shapes = {
      {1, 1, 1, 0},  {6, 64, 8, 0},     {7, 65, 5, 3},      {13, 100, 300, 1}, {48, 17, 48, 0},
      {5, 15, 9, 2}, {96, 300, 864, 0}, {240, 130, 257, 5}, {2, 1000, 3, 0},   {31, 64, 513, 4}};
  std::vector<ProductKernel> kernels = {ProductKernel::kBlas};
  if (fastestProductKernel() == ProductKernel::kAvx512) kernels.push_back(ProductKernel::kAvx512);
  for (const ProductKernel kernel : kernels) {
    for (const Shape& s : shapes) {
      const int aStride = s.depth + s.padding;
      const int bStride = s.columns + s.padding;
      const int cStride = s.columns + s.padding;
      const std::vector<float> a = randomValues(static_cast<std::size_t>(s.rows) * aStride, 1);
      const std::vector<float> b = randomValues(static_cast<std::size_t>(s.depth) * bStride, 2);
      const std::vector<float> start = randomValues(static_cast<std::size_t>(s.rows) * cStride, 3);
      std::vector<float> c = start;
      accumulateProduct(s.rows, s.columns, s.depth, {a.data(), aStride}, {b.data(), bStride},
                        {c.data(), cStride}, kernel);
      const std::string where = "kernel " + std::to_string(static_cast<int>(kernel)) + ", " +
                                std::to_string(s.rows) + "x" + std::to_string(s.columns) + "x" +
                                std::to_string(s.depth);
      for (int i = 0; i < s.rows; ++i) {
        for (int j = 0; j < cStride; ++j) {
          const std::size_t at = static_cast<std::size_t>(i) * cStride + j;
          if (j >= s.columns) {
            ASSERT_EQ(c[at], start[at]) << where << ": padding written at " << i << "," << j;
            continue;
          }
          double expected = start[at];
          for (int k = 0; k < s.depth; ++k) {
            expected += static_cast<double>(a[static_cast<std::size_t>(i) * aStride + k]) *
                        b[static_cast<std::size_t>(k) * bStride + j];
          }
          ASSERT_NEAR(c[at], expected, 1e-5 * (1 + std::sqrt(s.depth)))
              << where << " at " << i << "," << j;
        }
      }
    }
  }
}

TEST(MatrixProduct, EmptyProductsLeaveCAsItWas) {
  std::vector<float> a(4, 1.0F);
  std::vector<float> b(4, 1.0F);
  std::vector<float> c(4, 7.0F);
  accumulateProduct(2, 2, 0, {a.data(), 2}, {b.data(), 2}, {c.data(), 2});
  accumulateProduct(0, 2, 2, {a.data(), 2}, {b.data(), 2}, {c.data(), 2});
  EXPECT_EQ(c, std::vector<float>(4, 7.0F));
}

}  // namespace
}  // namespace brindlewox
