// The sweep operator, AVX variant: four doubles per instruction.
//
// Steps 4, 7, 8 and 9 of the sweep (numbered as in sweep_reference.cpp) run
// over contiguous stretches of packed rows. Each stretch runs scalar until
// its destination is 32-byte aligned, then in whole blocks of four cells,
// then scalar again for the tail. The sign of a cell (s(j) of the scalar
// definition) is taken from a mask built from the block's four flag bytes,
// and a negation is 0 - x as in the scalar code. Every cell receives the
// same rounded multiplication and rounded subtraction in the same order as
// in sweep_reference(), so the results are the same bits, NaN results
// included: every product keeps its factors in the order written
// (matrix/ordered_product.h). Only AVX is enabled for these functions, never
// FMA: a fused multiply-subtract would round once instead of twice.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "matrix/sweep.h"
#include "matrix/sweep_common.h"

namespace qvd {

namespace {

using namespace sweep_detail;

constexpr int kLanes = 4;
constexpr unsigned kAlignment = 32;

// All-ones lanes where (flags[j] == '1') differs from the state whose
// mask is `state` (all ones for swept, zero for not swept).
__attribute__((target("avx"))) __m256d state_differs(const char *flags,
                                                     __m128i state) {
  std::int32_t bytes;
  std::memcpy(&bytes, flags, sizeof bytes);
  __m128i m = _mm_cmpeq_epi8(_mm_cvtsi32_si128(bytes), _mm_set1_epi8(kSwept));
  m = _mm_xor_si128(m, state);
  // Sign-extend the four byte masks to 64-bit lanes, two per half.
  const __m128i low = _mm_cvtepi8_epi64(m);
  const __m128i high = _mm_cvtepi8_epi64(_mm_srli_si128(m, 2));
  return _mm256_castsi256_pd(
      _mm256_insertf128_si256(_mm256_castsi128_si256(low), high, 1));
}

__attribute__((target("avx"))) __m128i state_mask(bool swept) {
  return swept ? _mm_set1_epi32(-1) : _mm_setzero_si128();
}

// Step 4: work[j] := old S(k, j); S(k, j) := s(j) (S(k, j) c), with the
// sign negative where row j is not in the pivot's old state f.
__attribute__((target("avx"))) void scale_pivot_row(double *row, double *work,
                                                    const char *flags, int k,
                                                    double c, bool f) {
  const int head = scalar_head(row, k, kAlignment);
  int j = 0;
  for (; j < head; ++j) {
    work[j] = row[j];
    const double t = ordered_product_vex(row[j], c);
    row[j] = ((flags[j] == kSwept) == f) ? t : 0.0 - t;
  }
  const __m256d vc = _mm256_set1_pd(c);
  const __m256d zero = _mm256_setzero_pd();
  const __m128i state = state_mask(f);
  for (; j + kLanes <= k; j += kLanes) {
    const __m256d old = _mm256_load_pd(row + j);
    _mm256_storeu_pd(work + j, old);
    const __m256d t = ordered_product_vex(old, vc);
    const __m256d negated = _mm256_sub_pd(zero, t);
    _mm256_store_pd(row + j, _mm256_blendv_pd(t, negated,
                                              state_differs(flags + j, state)));
  }
  for (; j < k; ++j) {
    work[j] = row[j];
    const double t = ordered_product_vex(row[j], c);
    row[j] = ((flags[j] == kSwept) == f) ? t : 0.0 - t;
  }
}

// Steps 7 and 8: row[j] := row[j] - work[j] g for j in [0, len).
__attribute__((target("avx"))) void update_row(double *row,
                                               const double *work, int len,
                                               double g) {
  const int head = scalar_head(row, len, kAlignment);
  int j = 0;
  for (; j < head; ++j) row[j] = row[j] - ordered_product_vex(work[j], g);
  const __m256d vg = _mm256_set1_pd(g);
  for (; j + kLanes <= len; j += kLanes) {
    const __m256d product = ordered_product_vex(_mm256_loadu_pd(work + j), vg);
    _mm256_store_pd(row + j, _mm256_sub_pd(_mm256_load_pd(row + j), product));
  }
  for (; j < len; ++j) row[j] = row[j] - ordered_product_vex(work[j], g);
}

// Step 9: negate S(k, j) where row j is in the pivot's old state f.
__attribute__((target("avx"))) void finish_pivot_row(double *row,
                                                     const char *flags, int k,
                                                     bool f) {
  const int head = scalar_head(row, k, kAlignment);
  int j = 0;
  for (; j < head; ++j) {
    if ((flags[j] == kSwept) == f) row[j] = 0.0 - row[j];
  }
  const __m256d zero = _mm256_setzero_pd();
  // Differing from the opposite state is being in state f.
  const __m128i state = state_mask(!f);
  for (; j + kLanes <= k; j += kLanes) {
    const __m256d x = _mm256_load_pd(row + j);
    const __m256d negated = _mm256_sub_pd(zero, x);
    _mm256_store_pd(row + j, _mm256_blendv_pd(x, negated,
                                              state_differs(flags + j, state)));
  }
  for (; j < k; ++j) {
    if ((flags[j] == kSwept) == f) row[j] = 0.0 - row[j];
  }
}

}  // namespace

void sweep_avx(double *S, int k, int n, char *flags, double *work,
                double tol) {
  sweep_with<&scale_pivot_row, &update_row, &finish_pivot_row>(S, k, n, flags,
                                                               work, tol);
}

}  // namespace qvd
