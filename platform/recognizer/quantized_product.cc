#include "platform/recognizer/quantized_product.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#if defined(__GNUC__) && defined(__x86_64__)
// GCC 12's AVX-512 intrinsics start min, max and conversions from a
// self-initialised _mm512_undefined_*(), which -Wmaybe-uninitialized flags
// wherever they are inlined: a false positive.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#define BRINDLEWOX_VNNI_PRODUCT 1
#endif

namespace brindlewox {
namespace {

constexpr int kPanelRows = QuantizedMatrix::kPanelRows;
constexpr std::int32_t kLevels12 = 2047;  // either side of 0
// Weights' levels either side of 0.
std::int32_t weightLevels(ProductPrecision precision) {
  return precision == ProductPrecision::k8Bits ? 127 : 2047;
}

float rangeScale(float low, float high, float levels) {
  const float scale = (high - low) / levels;
  return scale > 0.0F ? scale : 1.0F;  // an all-zero row or column
}

std::int32_t quantizeValue(float value, float inverseScale, std::int32_t zeroPoint,
                           std::int32_t low, std::int32_t high) {
  const auto level = static_cast<std::int32_t>(std::nearbyint(value * inverseScale)) + zeroPoint;
  return std::clamp(level, low, high);
}

// The clamp of a column's levels: uint8, or int16 holding 12 bits.
std::int32_t lowestLevel(ProductPrecision precision) {
  return precision == ProductPrecision::k8Bits ? 0 : -kLevels12;
}
std::int32_t highestLevel(ProductPrecision precision) {
  return precision == ProductPrecision::k8Bits ? 255 : kLevels12;
}

}  // namespace

QuantizedMatrix::QuantizedMatrix(int rows, int depth, ConstMatrix weights,
                                 ProductPrecision precision)
    : rows_(rows),
      depth_(depth),
      precision_(precision),
      paddedDepth_((depth + group() - 1) / group() * group()) {
  const std::size_t size =
      static_cast<std::size_t>((rows + kPanelRows - 1) / kPanelRows) * kPanelRows * paddedDepth_;
  if (precision == ProductPrecision::k8Bits) {
    packed8_.assign(size, 0);
  } else {
    packed16_.assign(size, 0);
  }
  scales_.resize(static_cast<std::size_t>(rows));
  sums_.resize(static_cast<std::size_t>(rows));
  for (int row = 0; row < rows; ++row) {
    const float* source = weights.data + static_cast<std::ptrdiff_t>(row) * weights.stride;
    float largest = 0.0F;
    for (int step = 0; step < depth; ++step) largest = std::max(largest, std::fabs(source[step]));
    // Symmetric: the weights' zero is exact, and no offset enters the sums.
    const std::int32_t levels = weightLevels(precision);
    const float scale = rangeScale(0.0F, largest, static_cast<float>(levels));
    scales_[static_cast<std::size_t>(row)] = scale;
    std::int32_t sum = 0;
    for (int step = 0; step < depth; ++step) {
      const std::int32_t level = quantizeValue(source[step], 1.0F / scale, 0, -levels, levels);
      if (precision == ProductPrecision::k8Bits) {
        packed8_[packedIndex(row, step)] = static_cast<std::int8_t>(level);
      } else {
        packed16_[packedIndex(row, step)] = static_cast<std::int16_t>(level);
      }
      sum += level;
    }
    sums_[static_cast<std::size_t>(row)] = sum;
  }
}

std::size_t QuantizedMatrix::packedIndex(int row, int step) const {
  const int groups = paddedDepth_ / group();
  return (static_cast<std::size_t>(row / kPanelRows) * groups + step / group()) * kPanelRows *
             group() +
         static_cast<std::size_t>(row % kPanelRows) * group() + step % group();
}

std::int32_t QuantizedMatrix::value(int row, int step) const {
  return precision_ == ProductPrecision::k8Bits ? packed8_[packedIndex(row, step)]
                                                : packed16_[packedIndex(row, step)];
}

ColumnQuantization quantizeColumn(const float* column, int depth, int stride,
                                  ProductPrecision precision) {
  float low = 0.0F;
  float high = 0.0F;
  for (int step = 0; step < depth; ++step) {
    const float value = column[static_cast<std::ptrdiff_t>(step) * stride];
    low = std::min(low, value);
    high = std::max(high, value);
  }
  if (precision == ProductPrecision::k12Bits) {
    return {rangeScale(0.0F, std::max(-low, high), static_cast<float>(kLevels12)), 0};
  }
  const float scale = rangeScale(low, high, 255.0F);
  return {scale, quantizeValue(-low, 1.0F / scale, 0, 0, 255)};
}

void accumulateQuantizedProductPlain(const QuantizedMatrix& a, int columns, ConstMatrix b,
                                     Matrix c) {
  std::vector<std::int32_t> levels(static_cast<std::size_t>(a.depth()));
  for (int column = 0; column < columns; ++column) {
    const ColumnQuantization quantization =
        quantizeColumn(b.data + column, a.depth(), b.stride, a.precision());
    const float inverse = 1.0F / quantization.scale;
    for (int step = 0; step < a.depth(); ++step) {
      levels[static_cast<std::size_t>(step)] = quantizeValue(
          b.data[static_cast<std::ptrdiff_t>(step) * b.stride + column], inverse,
          quantization.zeroPoint, lowestLevel(a.precision()), highestLevel(a.precision()));
    }
    for (int row = 0; row < a.rows(); ++row) {
      std::int32_t sum = 0;
      for (int step = 0; step < a.depth(); ++step)
        sum += a.value(row, step) * levels[static_cast<std::size_t>(step)];
      const auto exact = static_cast<float>(sum - quantization.zeroPoint * a.rowSum(row));
      float& target = c.data[static_cast<std::ptrdiff_t>(row) * c.stride + column];
      target = std::fma(a.scale(row), quantization.scale * exact, target);
    }
  }
}

#ifdef BRINDLEWOX_VNNI_PRODUCT

namespace {

constexpr std::ptrdiff_t kLanes = 16;
constexpr std::ptrdiff_t kVectors = 4;
constexpr int kBlockColumns = static_cast<int>(kLanes * kVectors);
// Bytes of one packed step group of a column block: 64 columns, each lane 4
// uint8 steps or 2 int16 steps.
constexpr std::ptrdiff_t kGroupBytes = static_cast<std::ptrdiff_t>(kBlockColumns) * 4;

// A block of B's columns quantised, packed [group][column][steps of a lane],
// with each column's scale and zero point.
struct PackedBlock {
  std::vector<std::uint8_t> levels;
  alignas(64) float scales[kBlockColumns];
  alignas(64) std::int32_t zeroPoints[kBlockColumns];
};

__attribute__((target("avx512f"))) __mmask16 laneMask(std::ptrdiff_t left) {
  return static_cast<__mmask16>(left >= kLanes ? 0xFFFFU : left <= 0 ? 0U : (1U << left) - 1U);
}

// Quantises columns [first, first + width) of b, width <= 64, into `block`,
// as quantizeColumn() and accumulateQuantizedProductPlain() do one at a time.
template <ProductPrecision Precision>
__attribute__((target("avx512f"))) void packBlock(ConstMatrix b, int depth, int groups, int first,
                                                  int width, PackedBlock& block) {
  constexpr bool kEight = Precision == ProductPrecision::k8Bits;
  constexpr int kGroup = kEight ? 4 : 2;
  const __m512i lowest = _mm512_set1_epi32(kEight ? 0 : -kLevels12);
  const __m512i highest = _mm512_set1_epi32(kEight ? 255 : kLevels12);
  for (std::ptrdiff_t vector = 0; vector < kVectors; ++vector) {
    const __mmask16 mask = laneMask(width - kLanes * vector);
    if (mask == 0) break;
    const float* source = b.data + first + kLanes * vector;
    __m512 low = _mm512_setzero_ps();
    __m512 high = _mm512_setzero_ps();
    for (int step = 0; step < depth; ++step) {
      const __m512 value =
          _mm512_maskz_loadu_ps(mask, source + static_cast<std::ptrdiff_t>(step) * b.stride);
      low = _mm512_min_ps(low, value);
      high = _mm512_max_ps(high, value);
    }
    __m512 scale;
    __m512i zeroPoint = _mm512_setzero_si512();
    if constexpr (kEight) {
      scale = _mm512_div_ps(_mm512_sub_ps(high, low), _mm512_set1_ps(255.0F));
    } else {
      scale = _mm512_div_ps(_mm512_max_ps(_mm512_sub_ps(_mm512_setzero_ps(), low), high),
                            _mm512_set1_ps(static_cast<float>(kLevels12)));
    }
    scale = _mm512_mask_blend_ps(_mm512_cmp_ps_mask(scale, _mm512_setzero_ps(), _CMP_GT_OQ),
                                 _mm512_set1_ps(1.0F), scale);
    const __m512 inverse = _mm512_div_ps(_mm512_set1_ps(1.0F), scale);
    if constexpr (kEight) {
      zeroPoint = _mm512_min_epi32(
          _mm512_max_epi32(
              _mm512_cvtps_epi32(_mm512_mul_ps(_mm512_sub_ps(_mm512_setzero_ps(), low), inverse)),
              lowest),
          highest);
    }
    _mm512_store_ps(block.scales + kLanes * vector, scale);
    _mm512_store_si512(block.zeroPoints + kLanes * vector, zeroPoint);
    for (int group = 0; group < groups; ++group) {
      __m512i packed = _mm512_setzero_si512();
      for (int part = 0; part < kGroup; ++part) {
        const int step = group * kGroup + part;
        if (step >= depth) break;  // padding steps stay 0: their weights are 0 too
        const __m512 value =
            _mm512_maskz_loadu_ps(mask, source + static_cast<std::ptrdiff_t>(step) * b.stride);
        __m512i level =
            _mm512_add_epi32(_mm512_cvtps_epi32(_mm512_mul_ps(value, inverse)), zeroPoint);
        level = _mm512_min_epi32(_mm512_max_epi32(level, lowest), highest);
        if constexpr (!kEight) level = _mm512_and_si512(level, _mm512_set1_epi32(0xFFFF));
        packed = _mm512_or_si512(
            packed, _mm512_slli_epi32(level, static_cast<unsigned>(32 / kGroup * part)));
      }
      _mm512_storeu_si512(block.levels.data() + group * kGroupBytes + kLanes * 4 * vector, packed);
    }
  }
}

// c[rows x columns] += a's panel (rows <= 6) * the packed block (columns <= 16 * Vectors),
// summed in int32 by VNNI and scaled back to float.
template <ProductPrecision Precision, std::ptrdiff_t Vectors>
__attribute__((target("avx512f,avx512vnni"))) void panelProduct(const QuantizedMatrix& a, int panel,
                                                                const PackedBlock& block, float* c,
                                                                int cStride, int columns) {
  constexpr bool kEight = Precision == ProductPrecision::k8Bits;
  constexpr int kGroup = kEight ? 4 : 2;
  // Four bytes of weights a row and group either way.
  const int groups = a.paddedDepth() / kGroup;
  const auto* weights = kEight ? reinterpret_cast<const std::uint8_t*>(a.packed8())
                               : reinterpret_cast<const std::uint8_t*>(a.packed16());
  weights += static_cast<std::ptrdiff_t>(panel) * groups * kPanelRows * 4;
  const std::uint8_t* levels = block.levels.data();
  __m512i sums[kPanelRows][Vectors];
#pragma GCC unroll 6
  for (int i = 0; i < kPanelRows; ++i) {
#pragma GCC unroll 4
    for (std::ptrdiff_t j = 0; j < Vectors; ++j) sums[i][j] = _mm512_setzero_si512();
  }
  for (int group = 0; group < groups;
       ++group, weights += static_cast<std::ptrdiff_t>(kPanelRows) * 4, levels += kGroupBytes) {
    __m512i input[Vectors];
#pragma GCC unroll 4
    for (std::ptrdiff_t j = 0; j < Vectors; ++j)
      input[j] = _mm512_loadu_si512(levels + kLanes * 4 * j);
#pragma GCC unroll 6
    for (int i = 0; i < kPanelRows; ++i) {
      std::int32_t four = 0;
      std::memcpy(&four, weights + static_cast<std::ptrdiff_t>(i) * 4, sizeof four);
      const __m512i weight = _mm512_set1_epi32(four);
#pragma GCC unroll 4
      for (std::ptrdiff_t j = 0; j < Vectors; ++j) {
        if constexpr (kEight) {
          sums[i][j] = _mm512_dpbusd_epi32(sums[i][j], input[j], weight);
        } else {
          sums[i][j] = _mm512_dpwssd_epi32(sums[i][j], input[j], weight);
        }
      }
    }
  }
  const int rows = std::min(kPanelRows, a.rows() - panel * kPanelRows);
#pragma GCC unroll 6
  for (int i = 0; i < kPanelRows; ++i) {
    if (i >= rows) break;
    const int row = panel * kPanelRows + i;
    const __m512i rowSum = _mm512_set1_epi32(a.rowSum(row));
    const __m512 rowScale = _mm512_set1_ps(a.scale(row));
    float* target = c + static_cast<std::ptrdiff_t>(i) * cStride;
#pragma GCC unroll 4
    for (std::ptrdiff_t j = 0; j < Vectors; ++j) {
      const __mmask16 mask = laneMask(columns - kLanes * j);
      if (mask == 0) break;
      const __m512i zeroPoint = _mm512_load_si512(block.zeroPoints + kLanes * j);
      const __m512i exact = _mm512_sub_epi32(sums[i][j], _mm512_mullo_epi32(zeroPoint, rowSum));
      const __m512 scaled =
          _mm512_mul_ps(_mm512_load_ps(block.scales + kLanes * j), _mm512_cvtepi32_ps(exact));
      const __m512 old = _mm512_maskz_loadu_ps(mask, target + kLanes * j);
      _mm512_mask_storeu_ps(target + kLanes * j, mask, _mm512_fmadd_ps(rowScale, scaled, old));
    }
  }
}

using PanelProduct = void (*)(const QuantizedMatrix&, int, const PackedBlock&, float*, int, int);

template <ProductPrecision Precision>
PanelProduct panelProductFor(int columns) {
  switch ((columns + kLanes - 1) / kLanes) {
    case 1:
      return panelProduct<Precision, 1>;
    case 2:
      return panelProduct<Precision, 2>;
    case 3:
      return panelProduct<Precision, 3>;
    default:
      return panelProduct<Precision, kVectors>;
  }
}

template <ProductPrecision Precision>
void quantizedProduct(const QuantizedMatrix& a, int columns, ConstMatrix b, Matrix c) {
  const int groups = a.paddedDepth() / a.group();
  const int panels = (a.rows() + kPanelRows - 1) / kPanelRows;
  PackedBlock block;
  block.levels.assign(static_cast<std::size_t>(groups) * kGroupBytes, 0);
  for (int first = 0; first < columns; first += kBlockColumns) {
    const int width = std::min(kBlockColumns, columns - first);
    packBlock<Precision>(b, a.depth(), groups, first, width, block);
    const PanelProduct product = panelProductFor<Precision>(width);
    for (int panel = 0; panel < panels; ++panel) {
      product(a, panel, block,
              c.data + static_cast<std::ptrdiff_t>(panel) * kPanelRows * c.stride + first, c.stride,
              width);
    }
  }
}

}  // namespace

bool quantizedProductAvailable() {
  static const bool available =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vnni");
  return available;
}

void accumulateQuantizedProduct(const QuantizedMatrix& a, int columns, ConstMatrix b, Matrix c) {
  if (a.precision() == ProductPrecision::k8Bits) {
    quantizedProduct<ProductPrecision::k8Bits>(a, columns, b, c);
  } else {
    quantizedProduct<ProductPrecision::k12Bits>(a, columns, b, c);
  }
}

#else  // no x86-64 vector extensions: the layers keep the float product

bool quantizedProductAvailable() {
  return false;
}

void accumulateQuantizedProduct(const QuantizedMatrix& a, int columns, ConstMatrix b, Matrix c) {
  accumulateQuantizedProductPlain(a, columns, b, c);
}

#endif  // BRINDLEWOX_VNNI_PRODUCT

}  // namespace brindlewox
