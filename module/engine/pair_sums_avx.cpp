// The pairwise sums with 256-bit AVX vectors: four partners to a register.
// AVX has no 256-bit integer compare, so the missing test works on the two
// 128-bit halves.
#include <immintrin.h>

#include "engine/pair_sums_vector.h"

namespace qvd {
namespace {

__m128d missing_half(__m128d v) {
  const __m128i top = _mm_srli_epi32(_mm_castpd_si128(v), 16);
  const __m128i hit = _mm_cmpeq_epi32(top, _mm_set1_epi32(0xFFFF));
  return _mm_castsi128_pd(_mm_shuffle_epi32(hit, _MM_SHUFFLE(3, 3, 1, 1)));
}

struct Avx {
  using type = __m256d;
  static constexpr int kLanes = 4;
  static type zero() { return _mm256_setzero_pd(); }
  static type broadcast(double x) { return _mm256_set1_pd(x); }
  static type load(const double *p) { return _mm256_loadu_pd(p); }
  static void store(double *p, type v) { _mm256_storeu_pd(p, v); }
  static type add(type a, type b) { return _mm256_add_pd(a, b); }
  static type mul(type a, type b) { return _mm256_mul_pd(a, b); }
  static type clear(type mask, type v) { return _mm256_andnot_pd(mask, v); }
  static type missing(type v) {
    const __m128d lo = missing_half(_mm256_castpd256_pd128(v));
    const __m128d hi = missing_half(_mm256_extractf128_pd(v, 1));
    return _mm256_insertf128_pd(_mm256_castpd128_pd256(lo), hi, 1);
  }
};

void cross(const ResidualMatrix &E, int i, int first, int count, double *s) {
  pair_sums_vector::cross<Avx>(E, i, first, count, s);
}
void cross2(const ResidualMatrix &E, int i, int first, int count, double *s,
            double *s_next) {
  pair_sums_vector::cross2<Avx>(E, i, first, count, s, s_next);
}
void masked(const ResidualMatrix &E, int i, int first, int count,
            PartnerSums &out) {
  pair_sums_vector::masked<Avx>(E, i, first, count, out);
}

}  // namespace

const PairSumKernels kPairSumsAvx{cross, cross2, masked};

}  // namespace qvd
