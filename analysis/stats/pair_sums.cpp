#include "analysis/stats/pair_sums.h"

#include <cmath>
#include <cstddef>
#include <limits>

#include "analysis/common/not_a_number.h"
#include "analysis/stats/bias_adjusted_lm.h"
#include "analysis/stats/weighted_cd.h"

namespace qvd::analysis {
namespace {

struct Sums {
  double sum = 0, sum_abs = 0, screened = 0, weighted_cd = 0, scaled_squares = 0;
  long skipped = 0;  // pairs without a correlation
};

// The pass, built once for each choice of the optional sums so that the
// loop tests neither choice pair by pair. `scale` runs over the pairs of
// the first `scaled_rows` rows in the same row order.
template <bool kSigns, bool kScales>
Sums add_pairs(const PairTable &pairs, const std::vector<int> *signs, const double *scale,
               std::size_t scaled_rows) {
  const std::size_t n = static_cast<std::size_t>(pairs.sections);
  const auto qr = weighted_cd_weights(pairs);
  const auto screen = screens(pairs);
  PairRows rows(pairs);
  Sums s;
  for (std::size_t i = 0; i < n; ++i) {
    const PairRow row = rows.row(i);
    const bool scaled = kScales && i < scaled_rows;
    for (std::size_t j = i + 1; j < n; ++j) {
      const double rho = row.rho[j];
      const int common = row.common(j);
      s.screened += screened(rho, screen(common));
      if (scaled) s.scaled_squares += scaled_square(*scale++, rho);
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

PairSums pair_sums(const PairTable &pairs, const std::vector<int> *signs, const double *scales,
                   std::size_t scaled_rows) {
  const bool scaled = scales != nullptr && scaled_rows > 0;
  Sums s;
  if (pairs.sections >= 2) {
    if (signs != nullptr)
      s = scaled ? add_pairs<true, true>(pairs, signs, scales, scaled_rows)
                 : add_pairs<true, false>(pairs, signs, scales, scaled_rows);
    else
      s = scaled ? add_pairs<false, true>(pairs, signs, scales, scaled_rows)
                 : add_pairs<false, false>(pairs, signs, scales, scaled_rows);
  }
  PairSums r;
  // The means are over the usable pairs; one whose correlation the module
  // could not form (a NaN where the table counts the pair usable) leaves
  // them undefined.
  const double usable = static_cast<double>(pairs.usable);
  const bool defined = pairs.usable > 0 && s.skipped == pairs.unusable;
  r.mean = defined ? s.sum / usable : kNaN;
  r.mean_abs = defined ? s.sum_abs / usable : kNaN;
  r.power_enhancement = s.screened;
  if (signs != nullptr) r.weighted_cd = s.weighted_cd;
  r.scaled_squares = s.scaled_squares;
  return r;
}

}  // namespace qvd::analysis
