#include "analysis/pair_sums.h"

#include <cmath>
#include <cstddef>
#include <limits>

#include "analysis/power_enhanced_cd.h"

namespace qvd::analysis {
namespace {

struct Sums {
  double sum = 0, sum_abs = 0, screened = 0, weighted_cd = 0, scaled_squares = 0;
  long skipped = 0;  // pairs without a correlation
};

// The pass, built once for each choice of the optional sums so that the
// loop tests neither choice pair by pair. `scale` runs over the pairs in
// the same row order.
template <bool kSigns, bool kScales>
Sums add_pairs(const PairTable &pairs, const std::vector<int> *signs, const double *scale) {
  const std::size_t n = static_cast<std::size_t>(pairs.sections);
  const auto qr = weighted_cd_weights(pairs);
  const auto screen = screens(pairs);
  Sums s;
  for (std::size_t i = 0; i < n; ++i) {
    const double *row = pairs.correlations.data() + i * n;
    for (std::size_t j = i + 1; j < n; ++j) {
      const double rho = row[j];
      const int common = common_periods_of(pairs, i, j);
      s.screened += screened(rho, screen(common));
      if constexpr (kScales) s.scaled_squares += scaled_square(*scale++, rho);
      if (std::isnan(rho)) {  // not usable
        ++s.skipped;
        continue;
      }
      s.sum += rho;
      s.sum_abs += std::fabs(rho);
      if constexpr (kSigns)
        s.weighted_cd += weighted_cd_term(qr(common), (*signs)[i], (*signs)[j], rho);
    }
  }
  return s;
}

}  // namespace

PairSums pair_sums(const PairTable &pairs, const std::vector<int> *signs,
                   const BiasAdjustedLmWeights *lm_adj) {
  // LM_adj's sum joins the pass when every pair can add its term; otherwise
  // its own function says why it is refused.
  const bool scaled = lm_adj != nullptr && lm_adj->available &&
                      lm_adj->sections == pairs.sections && pairs.unusable == 0;
  const double *scale = scaled ? lm_adj->scale.data() : nullptr;
  Sums s;
  if (pairs.sections >= 2) {
    if (signs != nullptr)
      s = scaled ? add_pairs<true, true>(pairs, signs, scale)
                 : add_pairs<true, false>(pairs, signs, scale);
    else
      s = scaled ? add_pairs<false, true>(pairs, signs, scale)
                 : add_pairs<false, false>(pairs, signs, scale);
  }
  PairSums r;
  // The means are over the usable pairs; one whose correlation the module
  // could not form (a NaN where the table counts the pair usable) leaves
  // them undefined.
  const double usable = static_cast<double>(pairs.usable);
  const bool defined = pairs.usable > 0 && s.skipped == pairs.unusable;
  r.mean = defined ? s.sum / usable : std::numeric_limits<double>::quiet_NaN();
  r.mean_abs = defined ? s.sum_abs / usable : std::numeric_limits<double>::quiet_NaN();
  r.power_enhancement = s.screened;
  if (signs != nullptr) r.weighted_cd = s.weighted_cd;
  // A NaN in the sum is a correlation the module could not form for a pair
  // it found usable: the function over the table names it.
  if (lm_adj != nullptr)
    r.lm_adj = scaled && !std::isnan(s.scaled_squares)
                   ? bias_adjusted_lm(*lm_adj, s.scaled_squares)
                   : bias_adjusted_lm(*lm_adj, pairs);
  return r;
}

}  // namespace qvd::analysis
