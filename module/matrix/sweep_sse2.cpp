// The sweep operator, SSE2 variant: two doubles per instruction.
//
// Steps 4, 7, 8 and 9 of the sweep (numbered as in sweep_reference.cpp) run
// over contiguous stretches of packed rows. Each stretch runs scalar until
// its destination is 16-byte aligned, then in whole blocks of two cells,
// then scalar again for the tail. The sign of a cell (s(j) of the scalar
// definition) is taken from a mask built from the block's two flag bytes,
// and a negation is 0 - x as in the scalar code. Every cell receives the
// same rounded multiplication and rounded subtraction in the same order as
// in sweep_reference(), so the results are the same bits, NaN results
// included: every product keeps its factors in the order written
// (matrix/ordered_product.h).
#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "matrix/sweep.h"
#include "matrix/sweep_common.h"

namespace qvd {

namespace {

using namespace sweep_detail;

constexpr int kLanes = 2;
constexpr unsigned kAlignment = 16;

// All-ones lanes where (flags[j] == '1') differs from the state whose
// mask is `state` (all ones for swept, zero for not swept).
__m128d state_differs(const char *flags, __m128i state) {
  std::uint16_t bytes;
  std::memcpy(&bytes, flags, sizeof bytes);
  __m128i m = _mm_cmpeq_epi8(_mm_cvtsi32_si128(bytes), _mm_set1_epi8(kSwept));
  m = _mm_xor_si128(m, state);
  // Widen the two byte masks to 64-bit lanes.
  m = _mm_unpacklo_epi8(m, m);
  m = _mm_unpacklo_epi16(m, m);
  m = _mm_unpacklo_epi32(m, m);
  return _mm_castsi128_pd(m);
}

__m128i state_mask(bool swept) {
  return swept ? _mm_set1_epi32(-1) : _mm_setzero_si128();
}

__m128d select(__m128d mask, __m128d if_set, __m128d if_clear) {
  return _mm_or_pd(_mm_and_pd(mask, if_set), _mm_andnot_pd(mask, if_clear));
}

// Step 4: work[j] := old S(k, j); S(k, j) := s(j) (S(k, j) c), with the
// sign negative where row j is not in the pivot's old state f.
void scale_pivot_row(double *row, double *work, const char *flags, int k,
                     double c, bool f) {
  auto scalar = [&](int j) {
    work[j] = row[j];
    const double t = ordered_product(row[j], c);
    row[j] = ((flags[j] == kSwept) == f) ? t : 0.0 - t;
  };
  const int head = scalar_head(row, k, kAlignment);
  int j = 0;
  for (; j < head; ++j) scalar(j);
  const __m128d vc = _mm_set1_pd(c);
  const __m128d zero = _mm_setzero_pd();
  const __m128i state = state_mask(f);
  for (; j + kLanes <= k; j += kLanes) {
    const __m128d old = _mm_load_pd(row + j);
    _mm_storeu_pd(work + j, old);
    const __m128d t = ordered_product(old, vc);
    const __m128d negated = _mm_sub_pd(zero, t);
    _mm_store_pd(row + j, select(state_differs(flags + j, state), negated, t));
  }
  for (; j < k; ++j) scalar(j);
}

// Steps 7 and 8: row[j] := row[j] - work[j] g for j in [0, len).
void update_row(double *row, const double *work, int len, double g) {
  const int head = scalar_head(row, len, kAlignment);
  int j = 0;
  for (; j < head; ++j) row[j] = row[j] - ordered_product(work[j], g);
  const __m128d vg = _mm_set1_pd(g);
  for (; j + kLanes <= len; j += kLanes) {
    const __m128d product = ordered_product(_mm_loadu_pd(work + j), vg);
    _mm_store_pd(row + j, _mm_sub_pd(_mm_load_pd(row + j), product));
  }
  for (; j < len; ++j) row[j] = row[j] - ordered_product(work[j], g);
}

// Step 9: negate S(k, j) where row j is in the pivot's old state f.
void finish_pivot_row(double *row, const char *flags, int k, bool f) {
  const int head = scalar_head(row, k, kAlignment);
  int j = 0;
  for (; j < head; ++j) {
    if ((flags[j] == kSwept) == f) row[j] = 0.0 - row[j];
  }
  const __m128d zero = _mm_setzero_pd();
  // Differing from the opposite state is being in state f.
  const __m128i state = state_mask(!f);
  for (; j + kLanes <= k; j += kLanes) {
    const __m128d x = _mm_load_pd(row + j);
    const __m128d negated = _mm_sub_pd(zero, x);
    _mm_store_pd(row + j, select(state_differs(flags + j, state), negated, x));
  }
  for (; j < k; ++j) {
    if ((flags[j] == kSwept) == f) row[j] = 0.0 - row[j];
  }
}

}  // namespace

void sweep_sse2(double *S, int k, int n, char *flags, double *work,
                 double tol) {
  sweep_with<&scale_pivot_row, &update_row, &finish_pivot_row>(S, k, n, flags,
                                                               work, tol);
}

}  // namespace qvd
