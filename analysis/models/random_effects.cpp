#include "analysis/models/random_effects.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>

#include "analysis/common/errors.h"
#include "analysis/models/period_dummies.h"
#include "analysis/models/within.h"

namespace qvd::analysis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// R's sqrt(.Machine$double.eps): plm's is.constant, and all.equal's tolerance.
constexpr double kSqrtEpsilon = 1.4901161193847656e-08;

// The between regression on group means, each row weighted by its count.
struct BetweenFit {
  LeastSquares fit;
  double slopes = 0;               // coefficients it kept, the intercept not counted
  std::vector<std::size_t> group;  // the layout's group of each row
  std::vector<double> counts;      // and its number of observations
};

BetweenFit between_fit(const ColumnMatrix &data, bool intercept, const Observations &obs,
                       Grouping g, bool want_basis) {
  const ColumnMatrix means = group_means(data, obs, g);
  const std::vector<long> &sizes = obs.group_sizes(g);
  BetweenFit b;
  for (std::size_t r = 0; r < sizes.size(); ++r)
    if (sizes[r] > 0) {
      b.group.push_back(r);
      b.counts.push_back(static_cast<double>(sizes[r]));
    }
  const std::size_t rows = b.group.size(), c = intercept ? 1 : 0;
  ColumnMatrix weighted(rows, data.columns);
  for (std::size_t j = 0; j < data.columns; ++j)
    for (std::size_t r = 0; r < rows; ++r)
      weighted.column(j)[r] = std::sqrt(b.counts[r]) * means.column(j)[b.group[r]];
  // plm's Between model leaves out a regressor whose means are all alike
  // and refuses a model with no fewer coefficients than groups.
  std::vector<bool> candidates(data.columns - 1, true);
  std::size_t coefficients = c;
  for (std::size_t j = c + 1; j < data.columns; ++j) {
    double lo = means.column(j)[b.group[0]], hi = lo;
    for (std::size_t r : b.group) {
      lo = std::min(lo, means.column(j)[r]);
      hi = std::max(hi, means.column(j)[r]);
    }
    candidates[j - 1] = hi - lo >= kSqrtEpsilon;
    coefficients += candidates[j - 1];
  }
  if (coefficients >= rows) {
    const std::string what = g == Grouping::section ? "cross-section" : "period";
    std::string message = "random effects: Swamy and Arora's between regression on ";
    message += what + " means has " + std::to_string(coefficients) +
               " coefficients (with the intercept) but only " + std::to_string(rows) + " " + what +
               (rows == 1 ? "" : "s") + " to fit them";
    throw InputError(message);
  }
  b.fit = least_squares(weighted, candidates, want_basis);
  b.slopes = static_cast<double>(b.fit.rank()) - (intercept && b.fit.kept[0] ? 1 : 0);
  return b;
}

// sum over groups of count * (leverage of its row): tr((W'W)^-1 sum_g n_g^2 zbar_g zbar_g').
double weighted_leverage(const BetweenFit &b) {
  double sum = 0;
  for (std::size_t r = 0; r < b.group.size(); ++r) {
    double h = 0;
    for (std::size_t j = 0; j < b.fit.basis.columns; ++j)
      h += b.fit.basis.column(j)[r] * b.fit.basis.column(j)[r];
    sum += b.counts[r] * h;
  }
  return sum;
}

// sum over the other grouping's groups h of s_h'(W'W)^-1 s_h, s_h the sum
// of zbar_g over the groups g of `b` that meet h: || sum_g Q_g / sqrt(n_g) ||^2.
double crossed_leverage(const BetweenFit &b, const Observations &obs, Grouping g) {
  const Grouping other = g == Grouping::section ? Grouping::period : Grouping::section;
  const std::vector<std::uint32_t> &mine = obs.group_of(g), &theirs = obs.group_of(other);
  std::vector<long> row_of(obs.group_sizes(g).size(), -1);
  for (std::size_t r = 0; r < b.group.size(); ++r) row_of[b.group[r]] = static_cast<long>(r);
  const std::size_t k = b.fit.basis.columns, groups = obs.group_sizes(other).size();
  std::vector<double> s(groups * k, 0.0);
  for (std::size_t o = 0; o < obs.size(); ++o) {
    const std::size_t r = static_cast<std::size_t>(row_of[mine[o]]);
    for (std::size_t j = 0; j < k; ++j)
      s[theirs[o] * k + j] += b.fit.basis.column(j)[r] / std::sqrt(b.counts[r]);
  }
  double sum = 0;
  for (double v : s) sum += v * v;
  return sum;
}

std::string negative_warning(const char *which, double value) {
  char number[32];
  std::snprintf(number, sizeof number, "%.6g", value);
  return std::string("random effects: Swamy and Arora's estimate of the ") + which +
         " variance component is negative (" + number +
         "); it is taken as zero, as plm takes it, so the model has no " + which + " effect";
}

VarianceComponents swamy_arora(const ColumnMatrix &data, bool intercept, const Observations &obs,
                               Effect effect, std::vector<std::string> &warnings) {
  const std::size_t c = intercept ? 1 : 0, k = data.columns - 1 - c;
  const double o = static_cast<double>(obs.size()), n = static_cast<double>(obs.present_sections),
               t = static_cast<double>(obs.present_periods);
  const bool by_section = effect != Effect::time, by_period = effect != Effect::individual;
  const bool balanced = obs.balanced();

  ColumnMatrix regressors(data.rows, 1 + k);  // y and the regressors, for the within model
  std::copy_n(data.column(0), data.rows, regressors.column(0));
  std::copy_n(data.column(1 + c), data.rows * k, regressors.column(1));
  const WithinFit within = within_fit(std::move(regressors), obs, effect);
  const double effects = (by_section ? n : 0) + (by_period ? t : 0) - (by_section && by_period);
  const double absorbed =
      static_cast<double>(std::count(within.absorbed.begin(), within.absorbed.end(), true));
  BetweenFit sections, periods;
  if (by_section) sections = between_fit(data, intercept, obs, Grouping::section, !balanced);
  if (by_period) periods = between_fit(data, intercept, obs, Grouping::period, !balanced);

  // M sigma2 = q: [w_nu 0 0; id_nu id_eta id_mu; ts_nu ts_eta ts_mu], the
  // rows and columns of an effect the model lacks left out (here: made the
  // identity's).
  double w_nu, id_nu = 0, id_eta = 1, id_mu = 0, ts_nu = 0, ts_eta = 0, ts_mu = 1;
  if (balanced) {
    w_nu = o - effects - static_cast<double>(within.fit.rank());
    if (by_section) {
      id_nu = n - sections.slopes - 1;
      id_eta = t * id_nu;
    }
    if (by_period) {
      ts_nu = t - periods.slopes - 1;
      ts_mu = n * ts_nu;
    }
  } else {
    const double columns = static_cast<double>(data.columns - 1);  // plm's ncol(Z)
    w_nu = o - effects - (static_cast<double>(k) - absorbed);
    if (by_section) {
      id_nu = n - (columns - 1) - 1;
      id_eta = o - weighted_leverage(sections);
    }
    if (by_period) {
      ts_nu = t - (columns - 1) - 1;
      ts_mu = o - weighted_leverage(periods);
    }
    if (by_section && by_period) {
      id_mu = n - crossed_leverage(sections, obs, Grouping::section);
      ts_eta = t - crossed_leverage(periods, obs, Grouping::period);
    }
  }
  const double q_eta = by_section ? sections.fit.residual_sum_of_squares : 0;
  const double q_mu = by_period ? periods.fit.residual_sum_of_squares : 0;
  const double det = id_eta * ts_mu - id_mu * ts_eta;
  if (!(w_nu > 0) || !(det != 0))
    throw InputError(
        "random effects: too few observations for Swamy and Arora's variance "
        "components (no degrees of freedom left)");
  VarianceComponents v;
  v.idiosyncratic = within.fit.residual_sum_of_squares / w_nu;
  if (!(v.idiosyncratic > 0))
    throw InputError(
        "random effects: the within model fits the dependent variable exactly, "
        "so there is no idiosyncratic variance to weigh the effects by");
  const double r_eta = q_eta - id_nu * v.idiosyncratic, r_mu = q_mu - ts_nu * v.idiosyncratic;
  v.individual = by_section ? (r_eta * ts_mu - id_mu * r_mu) / det : kNaN;
  v.time = by_period ? (id_eta * r_mu - ts_eta * r_eta) / det : kNaN;
  if (v.individual < 0) warnings.push_back(negative_warning("cross-section", v.individual));
  if (v.time < 0) warnings.push_back(negative_warning("period", v.time));
  v.individual = std::max(v.individual, 0.0);  // NaN stays NaN
  v.time = std::max(v.time, 0.0);

  const double s_nu = v.idiosyncratic;
  v.theta_section.assign(obs.sections, kNaN);
  v.theta_period.assign(obs.periods, kNaN);
  for (std::size_t i = 0; i < obs.sections && by_section; ++i)
    if (obs.per_section[i] > 0) {
      const double size = balanced ? t : static_cast<double>(obs.per_section[i]);
      v.theta_section[i] = 1 - std::pow(1 + size * v.individual / s_nu, -0.5);
    }
  for (std::size_t s = 0; s < obs.periods && by_period; ++s)
    if (obs.per_period[s] > 0) {
      const double size = balanced ? n : static_cast<double>(obs.per_period[s]);
      v.theta_period[s] = 1 - std::pow(1 + size * v.time / s_nu, -0.5);
    }
  v.theta_total = kNaN;
  if (by_section && by_period && balanced) {
    const double theta_i = 1 - std::pow(1 + t * v.individual / s_nu, -0.5);
    const double theta_t = 1 - std::pow(1 + n * v.time / s_nu, -0.5);
    v.theta_total = v.individual <= kSqrtEpsilon || v.time <= kSqrtEpsilon
                        ? 0
                        : theta_i + theta_t - 1 +
                              std::pow(1 + n * v.time / s_nu + t * v.individual / s_nu, -0.5);
  }
  return v;
}

// x - theta_i xbar_i - theta_t xbar_t + theta xbar for the parts asked, in
// plm's order, every column.
void quasi_demean(ColumnMatrix &m, const Observations &obs, const VarianceComponents &v,
                  bool by_section, bool by_period) {
  const ColumnMatrix section_means =
      by_section ? group_means(m, obs, Grouping::section) : ColumnMatrix();
  const ColumnMatrix period_means =
      by_period ? group_means(m, obs, Grouping::period) : ColumnMatrix();
  for (std::size_t j = 0; j < m.columns; ++j) {
    double *x = m.column(j), overall = 0;
    for (std::size_t o = 0; o < m.rows; ++o) overall += x[o];
    overall /= static_cast<double>(m.rows);
    for (std::size_t o = 0; o < m.rows; ++o) {
      const std::size_t i = obs.section[o], s = obs.period[o];
      if (by_section) x[o] -= v.theta_section[i] * section_means.column(j)[i];
      if (by_period) x[o] -= v.theta_period[s] * period_means.column(j)[s];
      if (by_section && by_period) x[o] += v.theta_total * overall;
    }
  }
}

}  // namespace

RandomFit random_fit(const ColumnMatrix &data, bool intercept, const Observations &obs,
                     Effect effect) {
  RandomFit r;
  r.components = swamy_arora(data, intercept, obs, effect, r.warnings);
  const VarianceComponents &v = r.components;
  const bool by_section = effect != Effect::time, by_period = effect != Effect::individual;
  ColumnMatrix m = data;
  if (!(by_section && by_period) || obs.balanced()) {
    quasi_demean(m, obs, v, by_section, by_period);
    r.fit = least_squares(m);
    r.residuals = r.fit.residuals;
    return r;
  }
  // Two-way, unbalanced: by cross-section, then whitened against the periods.
  quasi_demean(m, obs, v, true, false);
  const double phi = v.time / v.idiosyncratic;
  if (phi > 0)
    remove_period_part(m, obs, v.theta_section, [phi](double lambda) {
      const double root = std::sqrt(1 + phi * lambda);
      return phi / (root * (root + 1));
    });
  r.fit = least_squares(m);
  r.residuals = residuals_of(data, r.fit.coefficients);
  return r;
}

}  // namespace qvd::analysis
