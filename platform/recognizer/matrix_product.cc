#include "platform/recognizer/matrix_product.h"

#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>

#include <cblas.h>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define BRINDLEWOX_AVX512_PRODUCT 1
#endif

namespace brindlewox {
namespace {

void blasProduct(int rows, int columns, int depth, ConstMatrix a, ConstMatrix b, Matrix c) {
  cblas_sgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, rows, columns, depth, 1.0F, a.data,
              a.stride, b.data, b.stride, 1.0F, c.data, c.stride);
}

#ifdef BRINDLEWOX_AVX512_PRODUCT

// A pass keeps a block of C of 6 rows by 64 columns (24 vectors) in registers;
// with the 4 vectors of B each step loads, that is 28 of the 32.
constexpr int kPanelRows = 6;
constexpr std::ptrdiff_t kVectors = 4;
constexpr int kPanelColumns = 16 * static_cast<int>(kVectors);
constexpr std::ptrdiff_t kLanes = 16;
// Steps of the shared dimension per pass: the packed B block (64 KB) stays in
// the core's second-level cache while every row panel of A passes over it.
constexpr int kDepthBlock = 256;
// Narrower products (the squeeze-and-excitation layers' single pixel) would
// mostly multiply padding; OpenBLAS takes them.
constexpr int kNarrowest = 16;

// Scratch memory for a packed block, aligned for vector loads. One per call:
// thread-local storage in this dynamically loaded library confused
// LeakSanitizer's scan of the threads at exit, and a freed block comes back
// from the heap without new page faults.
struct ReleaseAligned {
  void operator()(float* data) const { ::operator delete[](data, std::align_val_t{64}); }
};
using PackBuffer = std::unique_ptr<float[], ReleaseAligned>;

PackBuffer packBuffer(std::size_t count) {
  return PackBuffer(
      static_cast<float*>(::operator new[](count * sizeof(float), std::align_val_t{64})));
}

// c[rows x columns] += a (packed [depth][6]) * b (packed [depth][64]); rows <= 6,
// columns <= 16 * Vectors. The last block of a narrow product needs fewer
// than four vectors: a line of 75 pixels would otherwise multiply 128.
template <std::ptrdiff_t Vectors>
__attribute__((target("avx512f"))) void panelProduct(int depth, const float* a, const float* b,
                                                     float* c, int cStride, int rows, int columns) {
  __m512 sums[kPanelRows][Vectors];
#pragma GCC unroll 6
  for (int i = 0; i < kPanelRows; ++i) {
#pragma GCC unroll 4
    for (std::ptrdiff_t j = 0; j < Vectors; ++j) sums[i][j] = _mm512_setzero_ps();
  }
  for (int step = 0; step < depth; ++step, a += kPanelRows, b += kPanelColumns) {
    __m512 bRow[Vectors];
#pragma GCC unroll 4
    for (std::ptrdiff_t j = 0; j < Vectors; ++j) bRow[j] = _mm512_load_ps(b + kLanes * j);
#pragma GCC unroll 6
    for (int i = 0; i < kPanelRows; ++i) {
      const __m512 aValue = _mm512_set1_ps(a[i]);
#pragma GCC unroll 4
      for (std::ptrdiff_t j = 0; j < Vectors; ++j)
        sums[i][j] = _mm512_fmadd_ps(aValue, bRow[j], sums[i][j]);
    }
  }
#pragma GCC unroll 6
  for (int i = 0; i < kPanelRows; ++i) {
    if (i >= rows) break;
    float* row = c + static_cast<std::ptrdiff_t>(i) * cStride;
#pragma GCC unroll 4
    for (std::ptrdiff_t j = 0; j < Vectors; ++j) {
      const std::ptrdiff_t left = columns - kLanes * j;
      if (left <= 0) break;
      const auto mask = static_cast<__mmask16>(left >= kLanes ? 0xFFFFU : (1U << left) - 1U);
      const __m512 old = _mm512_maskz_loadu_ps(mask, row + kLanes * j);
      _mm512_mask_storeu_ps(row + kLanes * j, mask, _mm512_add_ps(old, sums[i][j]));
    }
  }
}

using PanelProduct = void (*)(int, const float*, const float*, float*, int, int, int);

// The panel product for a block `columns` wide.
PanelProduct panelProductFor(int columns) {
  switch ((columns + kLanes - 1) / kLanes) {
    case 1:
      return panelProduct<1>;
    case 2:
      return panelProduct<2>;
    case 3:
      return panelProduct<3>;
    default:
      return panelProduct<kVectors>;
  }
}

// Blocks of the shared dimension, each packed once: A's rows in panels of 6,
// interleaved step by step, and B's columns in blocks of 64, zero-padded, so
// that the panel product reads both in order and without bounds.
__attribute__((target("avx512f"))) void avx512Product(int rows, int columns, int depth,
                                                      ConstMatrix a, ConstMatrix b, Matrix c) {
  const int panels = (rows + kPanelRows - 1) / kPanelRows;
  // Sized for the first block of the shared dimension, the largest.
  const auto blockSteps = static_cast<std::size_t>(std::min(kDepthBlock, depth));
  const PackBuffer aBuffer = packBuffer(static_cast<std::size_t>(panels) * kPanelRows * blockSteps);
  const PackBuffer bBuffer = packBuffer(blockSteps * kPanelColumns);
  float* aPacked = aBuffer.get();
  float* bPacked = bBuffer.get();
  for (int firstStep = 0; firstStep < depth; firstStep += kDepthBlock) {
    const int steps = std::min(kDepthBlock, depth - firstStep);
    for (int row = 0; row < panels * kPanelRows; ++row) {
      float* target = aPacked + static_cast<std::size_t>(row / kPanelRows) * kPanelRows * steps +
                      row % kPanelRows;
      if (row >= rows) {
        for (std::ptrdiff_t step = 0; step < steps; ++step) target[step * kPanelRows] = 0.0F;
        continue;
      }
      const float* source = a.data + static_cast<std::ptrdiff_t>(row) * a.stride + firstStep;
      for (std::ptrdiff_t step = 0; step < steps; ++step) target[step * kPanelRows] = source[step];
    }
    for (int firstColumn = 0; firstColumn < columns; firstColumn += kPanelColumns) {
      const int width = std::min(kPanelColumns, columns - firstColumn);
      for (int step = 0; step < steps; ++step) {
        const float* source =
            b.data + static_cast<std::ptrdiff_t>(firstStep + step) * b.stride + firstColumn;
        float* target = bPacked + static_cast<std::ptrdiff_t>(step) * kPanelColumns;
        std::copy_n(source, width, target);
        std::fill(target + width, target + kPanelColumns, 0.0F);
      }
      const PanelProduct product = panelProductFor(width);
      for (int panel = 0; panel < panels; ++panel) {
        const int firstRow = panel * kPanelRows;
        product(steps, aPacked + static_cast<std::size_t>(panel) * kPanelRows * steps, bPacked,
                c.data + static_cast<std::ptrdiff_t>(firstRow) * c.stride + firstColumn, c.stride,
                std::min(kPanelRows, rows - firstRow), width);
      }
    }
  }
}

#endif  // BRINDLEWOX_AVX512_PRODUCT

}  // namespace

ProductKernel fastestProductKernel() {
#ifdef BRINDLEWOX_AVX512_PRODUCT
  static const ProductKernel kernel =
      __builtin_cpu_supports("avx512f") ? ProductKernel::kAvx512 : ProductKernel::kBlas;
  return kernel;
#else
  return ProductKernel::kBlas;
#endif
}

void accumulateProduct(int rows, int columns, int depth, ConstMatrix a, ConstMatrix b, Matrix c,
                       ProductKernel kernel) {
  if (rows <= 0 || columns <= 0 || depth <= 0) return;
#ifdef BRINDLEWOX_AVX512_PRODUCT
  if (kernel == ProductKernel::kAvx512 && columns >= kNarrowest) {
    avx512Product(rows, columns, depth, a, b, c);
    return;
  }
#endif
  blasProduct(rows, columns, depth, a, b, c);
}

}  // namespace brindlewox
