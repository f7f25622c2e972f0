// The pairwise sums with 128-bit SSE2 vectors: two partners to a register.
#include <emmintrin.h>

#include "engine/pair_sums_vector.h"

namespace qvd {
namespace {

struct Sse2 {
  using type = __m128d;
  static constexpr int kLanes = 2;
  static type zero() { return _mm_setzero_pd(); }
  static type broadcast(double x) { return _mm_set1_pd(x); }
  static type load(const double *p) { return _mm_loadu_pd(p); }
  static void store(double *p, type v) { _mm_storeu_pd(p, v); }
  static type add(type a, type b) { return _mm_add_pd(a, b); }
  static type mul(type a, type b) { return _mm_mul_pd(a, b); }
  static type clear(type mask, type v) { return _mm_andnot_pd(mask, v); }
  // A lane is missing when its top 16 bits are all ones: test the upper
  // half of each high 32-bit word, then copy the answer over the lane.
  static type missing(type v) {
    const __m128i top = _mm_srli_epi32(_mm_castpd_si128(v), 16);
    const __m128i hit = _mm_cmpeq_epi32(top, _mm_set1_epi32(0xFFFF));
    return _mm_castsi128_pd(_mm_shuffle_epi32(hit, _MM_SHUFFLE(3, 3, 1, 1)));
  }
};

void cross(const ResidualMatrix &E, int i, int first, int count, double *s) {
  pair_sums_vector::cross<Sse2>(E, i, first, count, s);
}
void cross2(const ResidualMatrix &E, int i, int first, int count, double *s,
            double *s_next) {
  pair_sums_vector::cross2<Sse2>(E, i, first, count, s, s_next);
}
void masked(const ResidualMatrix &E, int i, int first, int count,
            PartnerSums &out) {
  pair_sums_vector::masked<Sse2>(E, i, first, count, out);
}

}  // namespace

const PairSumKernels kPairSumsSse2{cross, cross2, masked};

}  // namespace qvd
