// Products whose factors keep their order, so that a NaN result has the same
// bits in every variant of a kernel.
//
// When both factors of an x86 multiplication are NaN the processor returns
// the first source operand, quietened. Multiplication is commutative to the
// compiler, which may swap the factors of a * b, or of a vector product,
// wherever that saves a register move; the sign and payload of a NaN result
// then depend on register allocation, and a scalar and a vector variant
// computing the same cell can disagree. These helpers issue the instruction
// with the factors in the order written: the NaN of `first` wins.
#ifndef QVDEP_MATRIX_ORDERED_PRODUCT_H
#define QVDEP_MATRIX_ORDERED_PRODUCT_H

#include <immintrin.h>

namespace qvd {

// first * second in the SSE2 register file (legacy encoding).
inline double ordered_product(double first, double second) {
  asm("mulsd %1, %0" : "+x"(first) : "x"(second));
  return first;
}

inline __m128d ordered_product(__m128d first, __m128d second) {
  asm("mulpd %1, %0" : "+x"(first) : "x"(second));
  return first;
}

// The same in the VEX encoding, for code that runs between 256-bit
// instructions and must not mix in legacy SSE encodings.
__attribute__((target("avx"))) inline double ordered_product_vex(
    double first, double second) {
  double result;
  asm("vmulsd %2, %1, %0" : "=x"(result) : "x"(first), "x"(second));
  return result;
}

__attribute__((target("avx"))) inline __m256d ordered_product_vex(
    __m256d first, __m256d second) {
  __m256d result;
  asm("vmulpd %2, %1, %0" : "=x"(result) : "x"(first), "x"(second));
  return result;
}

}  // namespace qvd

#endif
