#include "analysis/stats/rank_tests.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "analysis/common/not_a_number.h"
#include "analysis/stats/frees_q.h"
#include "analysis/stats/tail_probability.h"
#include "qvdep.h"

namespace qvd::analysis {
namespace {

RankTests refused(std::string reason, int used, bool common_only) {
  RankTests r;
  r.friedman = {not_available(reason), used};
  r.frees = {{not_available(std::move(reason)), used}, kNaN, kNaN, kNaN};
  r.mean_correlation = r.mean_squared_correlation = kNaN;
  r.common_periods_only = common_only;
  return r;
}

// Average ranks (1 .. T) of `values`, ties sharing the mean of their ranks.
void average_ranks(const std::vector<double> &values, std::vector<std::size_t> &order,
                   double *ranks) {
  const std::size_t t = values.size();
  order.resize(t);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(),
            [&](std::size_t x, std::size_t y) { return values[x] < values[y]; });
  for (std::size_t first = 0; first < t;) {
    std::size_t last = first + 1;
    while (last < t && values[order[last]] == values[order[first]]) ++last;
    // Ranks first + 1 .. last share their mean.
    const double shared = (static_cast<double>(first + 1) + static_cast<double>(last)) / 2;
    for (std::size_t k = first; k < last; ++k) ranks[order[k]] = shared;
    first = last;
  }
}

// sum over all (a, b) of (row_a . row_b)^2 for a rows-by-cols matrix (row
// major): the squared Frobenius norm of its Gram matrix.
double squared_gram_norm(const std::vector<double> &m, std::size_t rows, std::size_t cols) {
  double total = 0;
  for (std::size_t a = 0; a < rows; ++a) {
    const double *x = &m[a * cols];
    for (std::size_t b = 0; b <= a; ++b) {
      const double *y = &m[b * cols];
      double dot = 0;
      for (std::size_t c = 0; c < cols; ++c) dot += x[c] * y[c];
      total += (a == b ? 1.0 : 2.0) * dot * dot;
    }
  }
  return total;
}

}  // namespace

RankTests rank_tests(const double *residuals, int sections, int periods) {
  const std::size_t n = static_cast<std::size_t>(sections > 0 ? sections : 0);
  const std::size_t all = static_cast<std::size_t>(periods > 0 ? periods : 0);
  std::vector<std::size_t> common;
  for (std::size_t s = 0; s < all; ++s) {
    bool everyone = true;
    for (std::size_t i = 0; i < n && everyone; ++i)
      everyone = !qvdep_is_missing(residuals[i * all + s]);
    if (everyone) common.push_back(s);
  }
  const std::size_t t = common.size();
  const int used = static_cast<int>(t);
  const bool common_only = t < all;
  if (n < 2) return refused("the rank tests need 2 or more cross-sections", used, common_only);
  if (t < 3)
    return refused("the rank tests need 3 or more periods common to every cross-section, not " +
                       std::to_string(t),
                   used, common_only);

  // U: each row the centred ranks of a cross-section, at unit length. The
  // mean rank is (T + 1)/2, ties or not.
  std::vector<double> u(n * t), values(t);
  std::vector<std::size_t> order;
  const double mid = (static_cast<double>(t) + 1) / 2;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < t; ++k) values[k] = residuals[i * all + common[k]];
    double *row = &u[i * t];
    average_ranks(values, order, row);
    double square = 0;
    for (std::size_t k = 0; k < t; ++k) {
      row[k] -= mid;
      square += row[k] * row[k];
    }
    if (!(square > 0))
      return refused("cross-section " + std::to_string(i + 1) +
                         " has the same residual in every common period",
                     used, common_only);
    const double length = std::sqrt(square);
    for (std::size_t k = 0; k < t; ++k) row[k] /= length;
  }

  std::vector<double> total(t, 0.0);
  double norms = 0, fourth = 0;
  for (std::size_t i = 0; i < n; ++i) {
    double square = 0;
    for (std::size_t k = 0; k < t; ++k) {
      total[k] += u[i * t + k];
      square += u[i * t + k] * u[i * t + k];
    }
    norms += square;
    fourth += square * square;
  }
  double total_square = 0;
  for (const double v : total) total_square += v * v;
  double gram;
  if (n <= t) {
    gram = squared_gram_norm(u, n, t);
  } else {
    std::vector<double> columns(t * n);  // U', so that its rows are U's columns
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t k = 0; k < t; ++k) columns[k * n + i] = u[i * t + k];
    gram = squared_gram_norm(columns, t, n);
  }
  const double dn = static_cast<double>(n), dt = static_cast<double>(t);
  const double pairs = dn * (dn - 1) / 2;

  RankTests r;
  r.common_periods_only = common_only;
  r.mean_correlation = 0.5 * (total_square - norms) / pairs;
  r.mean_squared_correlation = 0.5 * (gram - fourth) / pairs;
  const double fr = (dt - 1) * ((dn - 1) * r.mean_correlation + 1);
  r.friedman.available = true;
  r.friedman.statistic = fr;
  r.friedman.pvalue = chi2_upper_tail(fr, dt - 1);
  r.friedman.periods_used = used;
  const double fre = dn * (r.mean_squared_correlation - 1 / (dt - 1));
  r.frees.available = true;
  r.frees.statistic = fre;
  r.frees.pvalue = frees_q_upper_tail(fre, used);
  r.frees.periods_used = used;
  r.frees.critical_10 = frees_q_critical_value(0.10, used);
  r.frees.critical_5 = frees_q_critical_value(0.05, used);
  r.frees.critical_1 = frees_q_critical_value(0.01, used);
  return r;
}

}  // namespace qvd::analysis
