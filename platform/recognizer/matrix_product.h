// The single-precision matrix product under the convolution layers,
// C[rows x columns] += A[rows x depth] * B[depth x columns], row-major with
// strides, computed on the calling thread (the layers split the work among
// threads themselves). The caller owns all three matrices.
//
// Two kernels compute it. OpenBLAS's, which runs everywhere; on this
// project's machines its build runs 256-bit kernels, about half of what the
// processor can multiply. And our own for processors with AVX-512, which runs
// 512-bit fused multiply-adds. The fastest one the processor has is chosen
// when the program starts; both give the same sums up to rounding.
#ifndef BRINDLEWOX_PLATFORM_RECOGNIZER_MATRIX_PRODUCT_H_
#define BRINDLEWOX_PLATFORM_RECOGNIZER_MATRIX_PRODUCT_H_

namespace brindlewox {

enum class ProductKernel { kBlas, kAvx512 };

// The kernel this processor runs fastest.
ProductKernel fastestProductKernel();

struct ConstMatrix {
  const float* data;
  int stride;  // floats from one row to the next
};

struct Matrix {
  float* data;
  int stride;
};

// c += a * b, with a [rows x depth], b [depth x columns], c [rows x columns].
// `kernel` must be one this processor has (kBlas always is).
void accumulateProduct(int rows, int columns, int depth, ConstMatrix a, ConstMatrix b, Matrix c,
                       ProductKernel kernel = fastestProductKernel());

}  // namespace brindlewox

#endif  // BRINDLEWOX_PLATFORM_RECOGNIZER_MATRIX_PRODUCT_H_
