// The pairwise sums with 512-bit vectors: eight partners to a register.
//
// Lanes beyond the block and lanes whose partner residual is missing are
// masked out of every load, product and sum, so they neither change a sum
// nor raise a fault. This file is compiled for AVX-512F; no fused
// multiply-add is ever formed (contraction is off).
#include <immintrin.h>

#include "engine/pair_sums.h"
#include "numeric/missing_value.h"

namespace qvd {
namespace {

constexpr int kLanes = 8;
constexpr int kCrossRegisters = kPartnerBlock / kLanes;  // 8 running sums
constexpr int kMaskedRegisters = 4;                      // 4 x 4 running sums

// Lanes [0, count - 8u) of register u, clipped to 0..8.
__mmask8 lane_mask(int count, int u) {
  const int lanes = count - kLanes * u;
  if (lanes <= 0) return 0;
  if (lanes >= kLanes) return 0xFF;
  return static_cast<__mmask8>((1u << lanes) - 1);
}

// A whole block: every lane live, no masks needed.
void cross_block(const ResidualMatrix &E, int i, int first, double *s_ij) {
  __m512d sum[kCrossRegisters];
#pragma GCC unroll 8
  for (int u = 0; u < kCrossRegisters; ++u) sum[u] = _mm512_setzero_pd();
  for (std::int32_t t = 0; t < E.periods; ++t) {
    const double *e = E.period(t);
    const __m512d a = _mm512_set1_pd(e[i]);
    const double *b = e + first;
#pragma GCC unroll 8
    for (int u = 0; u < kCrossRegisters; ++u)
      sum[u] = _mm512_add_pd(sum[u], _mm512_mul_pd(a, _mm512_loadu_pd(b + kLanes * u)));
  }
#pragma GCC unroll 8
  for (int u = 0; u < kCrossRegisters; ++u) _mm512_storeu_pd(s_ij + kLanes * u, sum[u]);
}

// Two rows against a whole block: 16 running sums, each partner loaded
// once per period.
void cross2_block(const ResidualMatrix &E, int i, int first, double *s_ij,
                  double *s_next_j) {
  __m512d sum[kCrossRegisters], next[kCrossRegisters];
#pragma GCC unroll 8
  for (int u = 0; u < kCrossRegisters; ++u) sum[u] = next[u] = _mm512_setzero_pd();
  for (std::int32_t t = 0; t < E.periods; ++t) {
    const double *e = E.period(t);
    const __m512d a = _mm512_set1_pd(e[i]);
    const __m512d c = _mm512_set1_pd(e[i + 1]);
    const double *b = e + first;
#pragma GCC unroll 8
    for (int u = 0; u < kCrossRegisters; ++u) {
      const __m512d v = _mm512_loadu_pd(b + kLanes * u);
      sum[u] = _mm512_add_pd(sum[u], _mm512_mul_pd(a, v));
      next[u] = _mm512_add_pd(next[u], _mm512_mul_pd(c, v));
    }
  }
#pragma GCC unroll 8
  for (int u = 0; u < kCrossRegisters; ++u) {
    _mm512_storeu_pd(s_ij + kLanes * u, sum[u]);
    _mm512_storeu_pd(s_next_j + kLanes * u, next[u]);
  }
}

// Fewer than a block: up to 8 registers, lanes past the end masked out of
// loads and products (a masked lane raises no fault).
void cross_part(const ResidualMatrix &E, int i, int first, int count,
                double *s_ij) {
  for (int k = 0; k < count; k += kLanes) {
    const __mmask8 live = lane_mask(count - k, 0);
    __m512d sum = _mm512_setzero_pd();
    for (std::int32_t t = 0; t < E.periods; ++t) {
      const double *e = E.period(t);
      const __m512d v = _mm512_maskz_loadu_pd(live, e + first + k);
      sum = _mm512_add_pd(sum, _mm512_maskz_mul_pd(live, _mm512_set1_pd(e[i]), v));
    }
    _mm512_mask_storeu_pd(s_ij + k, live, sum);
  }
}

void cross(const ResidualMatrix &E, int i, int first, int count,
           double *s_ij) {
  if (count == kPartnerBlock)
    cross_block(E, i, first, s_ij);
  else
    cross_part(E, i, first, count, s_ij);
}

void cross2(const ResidualMatrix &E, int i, int first, int count,
            double *s_ij, double *s_next_j) {
  if (count == kPartnerBlock) {
    cross2_block(E, i, first, s_ij, s_next_j);
  } else {
    cross_part(E, i, first, count, s_ij);
    cross_part(E, i + 1, first, count, s_next_j);
  }
}

// Present (not missing) lanes: top 16 bits not all ones.
__mmask8 present(__mmask8 live, __m512d v) {
  const __m512i top = _mm512_set1_epi64(static_cast<long long>(0xFFFF000000000000ull));
  return _mm512_mask_cmplt_epu64_mask(live, _mm512_castpd_si512(v), top);
}

// Partners first .. first + count - 1 with count <= 32, into slots from
// offset.
void masked_chunk(const ResidualMatrix &E, int i, int first, int count,
                  PartnerSums &out, int offset) {
  __m512d s_ii[kMaskedRegisters], s_jj[kMaskedRegisters],
      s_ij[kMaskedRegisters], common[kMaskedRegisters];
  __mmask8 live[kMaskedRegisters];
#pragma GCC unroll 8
  for (int u = 0; u < kMaskedRegisters; ++u) {
    s_ii[u] = s_jj[u] = s_ij[u] = common[u] = _mm512_setzero_pd();
    live[u] = lane_mask(count, u);
  }
  const __m512d one = _mm512_set1_pd(1.0);
  for (std::int32_t t = 0; t < E.periods; ++t) {
    const double *e = E.period(t);
    const double a = e[i];
    if (is_missing(a)) continue;
    const __m512d av = _mm512_set1_pd(a);
    const __m512d aa = _mm512_set1_pd(a * a);
    const double *b = e + first;
  #pragma GCC unroll 8
    for (int u = 0; u < kMaskedRegisters; ++u) {
      const __m512d v = _mm512_maskz_loadu_pd(live[u], b + kLanes * u);
      const __mmask8 m = present(live[u], v);
      s_ii[u] = _mm512_mask_add_pd(s_ii[u], m, s_ii[u], aa);
      s_jj[u] = _mm512_mask_add_pd(s_jj[u], m, s_jj[u], _mm512_maskz_mul_pd(m, v, v));
      s_ij[u] = _mm512_mask_add_pd(s_ij[u], m, s_ij[u], _mm512_maskz_mul_pd(m, av, v));
      common[u] = _mm512_mask_add_pd(common[u], m, common[u], one);
    }
  }
#pragma GCC unroll 8
  for (int u = 0; u < kMaskedRegisters; ++u) {
    const int slot = offset + kLanes * u;
    _mm512_mask_storeu_pd(out.s_ii + slot, live[u], s_ii[u]);
    _mm512_mask_storeu_pd(out.s_jj + slot, live[u], s_jj[u]);
    _mm512_mask_storeu_pd(out.s_ij + slot, live[u], s_ij[u]);
    _mm512_mask_storeu_pd(out.common + slot, live[u], common[u]);
  }
}

void masked(const ResidualMatrix &E, int i, int first, int count,
            PartnerSums &out) {
  constexpr int kChunk = kLanes * kMaskedRegisters;
  for (int k = 0; k < count; k += kChunk)
    masked_chunk(E, i, first + k, count - k < kChunk ? count - k : kChunk, out, k);
}

}  // namespace

const PairSumKernels kPairSumsAvx512{cross, cross2, masked};

}  // namespace qvd
