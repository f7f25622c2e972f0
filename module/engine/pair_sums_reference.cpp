// The pairwise sums one pair at a time, period by period: the definition
// that every vector variant reproduces bit for bit, and the tails of the
// vector variants. Also the choice of variant.
#include "engine/pair_sums.h"

#include "platform/cpu_features.h"
#include "numeric/missing_value.h"

namespace qvd {

void cross_sums_scalar(const ResidualMatrix &E, int i, int first, int count,
                       double *s_ij) {
  for (int k = 0; k < count; ++k) {
    double s = 0.0;
    for (std::int32_t t = 0; t < E.periods; ++t) {
      const double *e = E.period(t);
      s += e[i] * e[first + k];
    }
    s_ij[k] = s;
  }
}

void masked_sums_scalar(const ResidualMatrix &E, int i, int first, int count,
                        PartnerSums &out, int offset) {
  for (int k = 0; k < count; ++k) {
    double s_ii = 0.0, s_jj = 0.0, s_ij = 0.0, common = 0.0;
    for (std::int32_t t = 0; t < E.periods; ++t) {
      const double *e = E.period(t);
      const double a = e[i], b = e[first + k];
      if (is_missing(a) || is_missing(b)) continue;
      s_ii += a * a;
      s_jj += b * b;
      s_ij += a * b;
      common += 1.0;
    }
    out.s_ii[offset + k] = s_ii;
    out.s_jj[offset + k] = s_jj;
    out.s_ij[offset + k] = s_ij;
    out.common[offset + k] = common;
  }
}

const PairSumKernels &pair_sum_kernels_for(unsigned feature_level) {
  if (feature_level >= kFeatureLevelAvx512) return kPairSumsAvx512;
  if (feature_level >= kFeatureLevelAvx) return kPairSumsAvx;
  return kPairSumsSse2;
}

}  // namespace qvd
