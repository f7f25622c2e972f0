#include "pipeline_reference.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>

#include "support/lapack.h"

namespace qvd::e2e {

host::ReferenceHost &module_host() {
  static host::ReferenceHost instance(QVDEP_MODULE_PATH);
  return instance;
}

bool marked_missing(double v) { return qvdep_is_missing(v) != 0; }

double missing_marker(std::uint64_t low_bits) {
  return std::bit_cast<double>(0xFFFF000000000000ull |
                               (low_bits & 0x0000FFFFFFFFFFFFull));
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The complete periods of one cross-section: X (column-major, rows by
// K + c), y, and the periods they came from.
struct SectionData {
  int rows = 0;
  std::vector<double> x;
  std::vector<double> y;
  std::vector<int> period;
};

SectionData complete_periods(const host::Panel &panel, int section,
                             bool intercept) {
  const int k = panel.regressors, kc = k + (intercept ? 1 : 0);
  SectionData d;
  std::vector<std::vector<double>> rows;
  for (int t = 0; t < panel.periods; ++t) {
    const double *obs =
        &panel.values[(static_cast<std::size_t>(section) * panel.periods + t) *
                      (k + 1)];
    if (std::any_of(obs, obs + k + 1, marked_missing)) continue;
    std::vector<double> row;
    if (intercept) row.push_back(1.0);
    row.insert(row.end(), obs, obs + k);
    rows.push_back(row);
    d.y.push_back(obs[k]);
    d.period.push_back(t);
  }
  d.rows = static_cast<int>(rows.size());
  d.x.assign(static_cast<std::size_t>(d.rows) * kc, 0.0);
  for (int r = 0; r < d.rows; ++r)
    for (int s = 0; s < kc; ++s) d.x[static_cast<std::size_t>(s) * d.rows + r] = rows[r][s];
  return d;
}

// Least squares by Householder QR (minimum-norm when rows < columns).
std::vector<double> least_squares(const SectionData &d, int kc) {
  const int m = d.rows, n = kc, nrhs = 1, lda = std::max(1, m),
            ldb = std::max({1, m, n});
  std::vector<double> a = d.x, b(ldb, 0.0);
  std::copy(d.y.begin(), d.y.end(), b.begin());
  int info = 0, lwork = -1;
  double query = 0;
  dgels_("N", &m, &n, &nrhs, a.data(), &lda, b.data(), &ldb, &query, &lwork,
         &info, 1);
  lwork = static_cast<int>(query);
  std::vector<double> work(std::max(1, lwork));
  dgels_("N", &m, &n, &nrhs, a.data(), &lda, b.data(), &ldb, work.data(),
         &lwork, &info, 1);
  if (info != 0) throw std::runtime_error("dgels failed");
  b.resize(n);
  return b;
}

// Restricted least squares from the bordered normal equations; the cross
// products are formed in long double.
std::vector<double> restricted_least_squares(const SectionData &d, int kc,
                                             const host::TestOptions &options) {
  const int h = static_cast<int>(options.restriction_rhs.size());
  const int n = kc + h, nrhs = 1;
  std::vector<double> a(static_cast<std::size_t>(n) * n, 0.0), b(n, 0.0);
  for (int s = 0; s < kc; ++s) {
    for (int q = 0; q < kc; ++q) {
      long double sum = 0;
      for (int r = 0; r < d.rows; ++r)
        sum += static_cast<long double>(d.x[s * d.rows + r]) * d.x[q * d.rows + r];
      a[static_cast<std::size_t>(q) * n + s] = static_cast<double>(sum);
    }
    long double xy = 0;
    for (int r = 0; r < d.rows; ++r)
      xy += static_cast<long double>(d.x[s * d.rows + r]) * d.y[r];
    b[s] = static_cast<double>(xy);
  }
  for (int r = 0; r < h; ++r) {
    for (int s = 0; s < kc; ++s) {
      const double coef = options.restriction_coef[r * kc + s];
      a[static_cast<std::size_t>(s) * n + (kc + r)] = coef;  // A
      a[static_cast<std::size_t>(kc + r) * n + s] = coef;    // A'
    }
    b[kc + r] = options.restriction_rhs[r];
  }
  std::vector<int> pivots(n);
  int info = 0;
  dgesv_(&n, &nrhs, a.data(), &n, pivots.data(), b.data(), &n, &info);
  if (info != 0) throw std::runtime_error("dgesv failed");
  b.resize(kc);
  return b;
}

}  // namespace

std::vector<double> reference_residuals(const host::Panel &panel,
                                        const host::TestOptions &options) {
  const int kc = panel.regressors + (options.intercept ? 1 : 0);
  std::vector<double> residuals(
      static_cast<std::size_t>(panel.sections) * panel.periods, kNaN);
  for (int i = 0; i < panel.sections; ++i) {
    const SectionData d = complete_periods(panel, i, options.intercept);
    if (d.rows == 0) continue;
    std::vector<double> beta(kc, 0.0);
    if (kc > 0)
      beta = options.restriction_rhs.empty()
                 ? least_squares(d, kc)
                 : restricted_least_squares(d, kc, options);
    for (int r = 0; r < d.rows; ++r) {
      long double fit = 0;
      for (int s = 0; s < kc; ++s)
        fit += static_cast<long double>(d.x[s * d.rows + r]) * beta[s];
      residuals[static_cast<std::size_t>(i) * panel.periods + d.period[r]] =
          static_cast<double>(d.y[r] - fit);
    }
  }
  return residuals;
}

ReferenceResults reference_statistics(const std::vector<double> &residuals,
                                      int sections, int periods, int order) {
  ReferenceResults out;
  out.sections = sections;
  out.residuals = residuals;
  const std::size_t cells = testing::packed_cells(sections);
  out.correlations.assign(cells, 0.0);
  out.usable.assign(cells, 0);
  if (sections < 2) return out;
  const int local = std::min<long>(order, sections - 1);
  long local_pairs = 0;
  for (int i = 0; i < sections; ++i)
    for (int j = i + 1; j < sections; ++j)
      if (j - i <= local) ++local_pairs;

  const long double pairs = static_cast<long double>(sections) * (sections - 1) / 2;
  long double lm = 0, scaled = 0, cd = 0, cdp = 0;
  long double lm_abs = 0, scaled_abs = 0, cd_abs = 0, cdp_abs = 0;
  for (int i = 0; i < sections; ++i) {
    for (int j = i + 1; j < sections; ++j) {
      long double sii = 0, sjj = 0, sij = 0;
      int common = 0;
      for (int t = 0; t < periods; ++t) {
        const double a = residuals[static_cast<std::size_t>(i) * periods + t];
        const double b = residuals[static_cast<std::size_t>(j) * periods + t];
        if (std::isnan(a) || std::isnan(b)) continue;
        sii += static_cast<long double>(a) * a;
        sjj += static_cast<long double>(b) * b;
        sij += static_cast<long double>(a) * b;
        ++common;
      }
      out.correlations[packed(i, i)] = static_cast<double>(sii);
      out.correlations[packed(j, j)] = static_cast<double>(sjj);
      out.correlations[packed(i, j)] = static_cast<double>(sij);
      if (!(sii > 1e-12L && sjj > 1e-12L && common > 0)) continue;
      const long double rho = sij / std::sqrt(sii * sjj);
      out.correlations[packed(i, j)] = static_cast<double>(rho);
      out.usable[packed(i, j)] = 1;
      const long double t_rho2 = common * rho * rho;
      const long double root_t_rho = std::sqrt(static_cast<long double>(common)) * rho;
      lm += t_rho2;
      lm_abs += t_rho2;
      scaled += t_rho2 - 1;
      scaled_abs += t_rho2 + 1;
      cd += root_t_rho;
      cd_abs += std::fabs(root_t_rho);
      if (j - i <= local) {
        cdp += root_t_rho;
        cdp_abs += std::fabs(root_t_rho);
      }
    }
  }
  // scaled LM = sum (T rho^2 - 1) / sqrt(N(N-1)); CD = sum sqrt(T) rho /
  // sqrt(number of pairs), and CD(p) the same over the pairs at most p apart.
  const long double root_2pairs = std::sqrt(2 * pairs);
  out.lm = static_cast<double>(lm);
  out.lm_scale = static_cast<double>(lm_abs);
  out.scaled_lm = static_cast<double>(scaled / root_2pairs);
  out.scaled_lm_scale = static_cast<double>(scaled_abs / root_2pairs);
  out.cd = static_cast<double>(cd / std::sqrt(pairs));
  out.cd_scale = static_cast<double>(cd_abs / std::sqrt(pairs));
  if (local_pairs > 0) {
    const long double root_local = std::sqrt(static_cast<long double>(local_pairs));
    out.cdp = static_cast<double>(cdp / root_local);
    out.cdp_scale = static_cast<double>(cdp_abs / root_local);
  }
  return out;
}

ReferenceResults reference_test(const host::Panel &panel,
                                const host::TestOptions &options) {
  return reference_statistics(reference_residuals(panel, options),
                              panel.sections, panel.periods, options.cdp_order);
}

double chi2_upper_tail(double x, double df) {
  return boost::math::cdf(
      boost::math::complement(boost::math::chi_squared_distribution<double>(df), x));
}

double normal_upper_tail(double x) {
  return boost::math::cdf(
      boost::math::complement(boost::math::normal_distribution<double>(), x));
}

host::Panel random_panel(std::mt19937_64 &rng, const PanelShape &shape) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  const int n = shape.sections, t = shape.periods, k = shape.regressors;
  host::Panel panel{n, t, k, {}};
  panel.values.assign(static_cast<std::size_t>(n) * t * (k + 1), 0.0);
  std::vector<double> factor(t);
  for (double &f : factor) f = normal(rng);
  auto at = [&](int i, int p, int v) -> double & {
    return panel.values[(static_cast<std::size_t>(i) * t + p) * (k + 1) + v];
  };
  for (int i = 0; i < n; ++i) {
    // Scales over several orders of magnitude: correlations ignore them.
    const double noise = std::pow(10.0, -1.0 + 3.0 * uniform(rng));
    const double loading = shape.factor_loading * (0.5 + uniform(rng));
    std::vector<double> beta(k + 1), x_scale(k), x_shift(k);
    for (double &b : beta) b = 4.0 * uniform(rng) - 2.0;
    for (int v = 0; v < k; ++v) {
      x_scale[v] = std::pow(10.0, 2.0 * uniform(rng) - 1.0);
      x_shift[v] = 3.0 * normal(rng);
    }
    for (int p = 0; p < t; ++p) {
      double y = shape.intercept ? beta[k] : 0.0;
      for (int v = 0; v < k; ++v) {
        const double x = x_shift[v] + x_scale[v] * normal(rng);
        at(i, p, v) = x;
        y += beta[v] * x;
      }
      at(i, p, k) = y + noise * (loading * factor[p] + normal(rng));
    }
  }
  std::uniform_int_distribution<std::uint64_t> bits;
  if (shape.scattered_missing > 0)
    for (double &v : panel.values)
      if (uniform(rng) < shape.scattered_missing) v = missing_marker(bits(rng));
  if (shape.blocks_missing && t > 0) {
    for (int i = 0; i < n; ++i) {
      const double u = uniform(rng);
      if (u < 0.05) {  // the whole cross-section
        for (int p = 0; p < t; ++p) at(i, p, k) = missing_marker(bits(rng));
      } else if (u < 0.4) {  // one run of periods
        const int first = static_cast<int>(uniform(rng) * t);
        const int length = 1 + static_cast<int>(uniform(rng) * t / 2);
        for (int p = first; p < std::min(t, first + length); ++p)
          at(i, p, static_cast<int>(uniform(rng) * (k + 1))) =
              missing_marker(bits(rng));
      }
    }
  }
  for (int i = 0; i < n; ++i) {
    int complete = 0;
    for (int p = 0; p < t; ++p) {
      const double *obs = &at(i, p, 0);
      if (std::none_of(obs, obs + k + 1, marked_missing)) ++complete;
    }
    if (complete > 0 && complete < shape.min_complete)
      for (int p = 0; p < t; ++p) at(i, p, k) = missing_marker(0);
  }
  return panel;
}

host::Panel reversed(const host::Panel &panel) {
  host::Panel out = panel;
  const std::size_t block =
      static_cast<std::size_t>(panel.periods) * (panel.regressors + 1);
  for (int i = 0; i < panel.sections; ++i)
    std::copy_n(panel.values.begin() + static_cast<std::ptrdiff_t>(i * block),
                block,
                out.values.begin() +
                    static_cast<std::ptrdiff_t>((panel.sections - 1 - i) * block));
  return out;
}

}  // namespace qvd::e2e
