#include "analysis/driver/strength.h"

#include <algorithm>
#include <utility>

#include "analysis/common/errors.h"
#include "analysis/common/not_a_number.h"
#include "analysis/stats/residual_exponent.h"
#include "analysis/stats/variable_exponent.h"

namespace qvd::analysis {
namespace {

// The principal components the variable's exponent takes out for c_N, as
// xtcse2 does.
constexpr int kVariableComponents = 4;

ResidualExponentOptions stats_options(const Options &options) {
  return {options.exponent_size, options.exponent_tuning, options.exponent_draws.value_or(0),
          options.exponent_seed.value_or(options.seed)};
}

}  // namespace

void check_exponent_options(const Options &options) {
  if (options.exponent_draws && *options.exponent_draws < 1)
    throw InputError("the exponent's bootstrap takes 1 or more draws, not " +
                     std::to_string(*options.exponent_draws));
  check_residual_exponent_options(stats_options(options));
}

ResidualExponentSummary residual_exponent_of(const PairTable &pairs, const Options &options) {
  const ResidualExponentOptions used = stats_options(options);
  const ResidualExponent e = residual_exponent(pairs, used);
  return {e.available, e.reason,      e.alpha,     e.pairs,
          e.nonzero_pairs, e.threshold, used.draws, used.seed,
          e.bootstrap_standard_error, e.quantile_2_5, e.quantile_97_5};
}

VariableExponentSummary variable_exponent_of(const WorkVector<double> &series, int sections,
                                             int periods, std::string name,
                                             const Options &options) {
  VariableExponentSummary s;
  s.present = true;
  s.variable = std::move(name);
  if (std::min(sections, periods) <= kVariableComponents) {
    s.reason = "it takes 4 principal components out, and needs more than 4 cross-sections and "
               "periods";
    s.alpha = s.standard_error = kNaN;
    return s;
  }
  const VariableExponent e = variable_exponent(series.data(), sections, periods,
                                               {options.exponent_size, kVariableComponents});
  s.available = e.available;
  s.reason = e.reason;
  s.alpha = e.alpha;
  s.standard_error = e.standard_error;
  s.standard_error_reason = e.standard_error_reason;
  return s;
}

}  // namespace qvd::analysis
