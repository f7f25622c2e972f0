// Cross products of one cross-section's residuals with a block of partners,
// the inner work of the pairwise statistics.
//
// The residuals lie period-major: e_k(t) is element t*N + k, so the
// residuals of consecutive partners at one period are consecutive in memory.
// A kernel fixes one cross-section i and up to kPartnerBlock partners j and
// runs over the periods once, keeping one running sum per partner in a
// vector lane. Every sum therefore receives the same products in the same
// period order as a loop over periods for each pair alone, and the product
// and the sum are rounded separately (no fused multiply-add): all variants
// give the same bits as the straightforward loop.
#ifndef QVDEP_ENGINE_PAIR_SUMS_H
#define QVDEP_ENGINE_PAIR_SUMS_H

#include <cstdint>

namespace qvd {

inline constexpr int kPartnerBlock = 64;

// Period-major residual matrix: T rows of N.
struct ResidualMatrix {
  const double *e;
  std::int32_t sections;  // N
  std::int32_t periods;   // T

  const double *period(std::int32_t t) const {
    return e + static_cast<std::int64_t>(t) * sections;
  }
};

// The sums of pair (i, first + k) over its common periods, k < count.
// T_ij is counted in a double (exact far beyond 2^31).
struct PartnerSums {
  alignas(64) double s_ij[kPartnerBlock];
  alignas(64) double s_ii[kPartnerBlock];
  alignas(64) double s_jj[kPartnerBlock];
  alignas(64) double common[kPartnerBlock];
};

// One code variant of the two kernels.
struct PairSumKernels {
  // Neither row has a missing residual: s_ij only, over every period.
  void (*cross)(const ResidualMatrix &E, int i, int first, int count,
                double *s_ij);
  // Rows i and i + 1 against the same partners, none of the three with a
  // missing residual: each partner's residual is loaded once for two sums.
  void (*cross2)(const ResidualMatrix &E, int i, int first, int count,
                 double *s_ij, double *s_next_j);
  // Rows that may hold missing residuals: all four sums over the periods
  // at which neither residual is missing.
  void (*masked)(const ResidualMatrix &E, int i, int first, int count,
                 PartnerSums &out);
};

// The variants; callers pick with pair_sum_kernels_for().
extern const PairSumKernels kPairSumsSse2;
extern const PairSumKernels kPairSumsAvx;
extern const PairSumKernels kPairSumsAvx512;

// The fastest variant that the processor feature level allows.
const PairSumKernels &pair_sum_kernels_for(unsigned feature_level);

// Scalar sums of pairs (i, first) .. (i, first + count - 1), one pair at a
// time: the tails that a variant's vectors do not cover.
void cross_sums_scalar(const ResidualMatrix &E, int i, int first, int count,
                       double *s_ij);
void masked_sums_scalar(const ResidualMatrix &E, int i, int first, int count,
                        PartnerSums &out, int offset);

}  // namespace qvd

#endif
