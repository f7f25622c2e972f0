#include "analysis/stats/frees_q.h"

#include <algorithm>
#include <boost/math/special_functions/gamma.hpp>
#include <boost/math/tools/roots.hpp>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>

#include "analysis/common/errors.h"
#include "analysis/common/not_a_number.h"

namespace qvd::analysis {
namespace {

using Real = long double;

// Weights and terms left out add up to less than this, relative.
constexpr Real kNegligible = 1e-20L;
// Terms between fresh evaluations of the recurrences.
constexpr long kRefresh = 256;

// Q + c = Gamma(small_shape, small_scale) + Gamma(large_shape, large_scale).
struct Law {
  Real centre = 0;  // c: Q's least value is -c
  Real small_shape = 0, small_scale = 0;
  Real large_shape = 0, large_scale = 0;
};

void check_periods(int periods) {
  if (periods < 3)
    throw InputError("Frees' Q needs 3 or more periods, not " + std::to_string(periods));
}

Law law_of(int periods) {
  const Real t = periods;
  const Real a = 4 * (t + 2) / (5 * (t - 1) * (t - 1) * (t + 1));
  const Real b = 2 * (5 * t + 6) / (5 * t * (t - 1) * (t + 1));
  const Real df1 = t - 1, df2 = t * (t - 3) / 2;
  Law law;
  law.centre = a * df1 + b * df2;
  std::pair<Real, Real> first{df1 / 2, 2 * a}, second{df2 / 2, 2 * b};
  if (first.second > second.second) std::swap(first, second);
  law.small_shape = first.first;
  law.small_scale = first.second;
  law.large_shape = second.first;
  law.large_scale = second.second;
  return law;
}

// log w_j of NB(k, r): Gamma(k + j) / (Gamma(k) j!) r^k (1 - r)^j.
Real log_weight(Real k, Real r, long j) {
  const Real dj = static_cast<Real>(j);
  return boost::math::lgamma(k + dj) - boost::math::lgamma(k) - boost::math::lgamma(dj + 1) +
         k * std::log(r) + dj * std::log1p(-r);
}

// The mixture's tail, sum_j w_j Qgamma(rho + j, x), as the header says.
Real mixture_tail(const Law &law, Real x) {
  const Real k = law.large_shape, r = law.small_scale / law.large_scale;
  const Real rho = law.small_shape + law.large_shape;
  // w_{j+1}/w_j and w_{j-1}/w_j.
  auto up = [&](long j) { return (k + static_cast<Real>(j)) * (1 - r) / static_cast<Real>(j + 1); };
  auto down = [&](long j) {
    return static_cast<Real>(j) / ((k + static_cast<Real>(j) - 1) * (1 - r));
  };
  const long mode = k > 1 ? static_cast<long>(std::floor((k - 1) * (1 - r) / r)) : 0;
  // Down from the mode (weights relative to the mode's) while those below
  // may still count.
  long low = mode;
  for (Real w = 1; low > 0; --low) {
    const Real ratio = down(low);
    if (ratio < 1 && w * ratio / (1 - ratio) <= kNegligible) break;
    w *= ratio;
  }
  Real w = 0, q = 0, term = 0, sum = 0, s = 0;
  for (long j = low;; ++j) {
    if ((j - low) % kRefresh == 0) {
      s = rho + static_cast<Real>(j);
      w = std::exp(log_weight(k, r, j));
      q = boost::math::gamma_q(s, x);
      term = boost::math::gamma_p_derivative(s + 1, x);  // x^s e^-x / Gamma(s + 1)
    }
    sum += w * q;
    const Real ratio = up(j);
    if (j >= mode && ratio < 1 && w * ratio / (1 - ratio) <= kNegligible * sum) break;
    if (j >= mode && w == 0) break;
    q += term;
    term *= x / (s + 1);
    s += 1;
    w *= ratio;
  }
  return std::min<Real>(sum, 1);
}

}  // namespace

double frees_q_upper_tail(double q, int periods) {
  check_periods(periods);
  if (std::isnan(q)) return kNaN;
  const Law law = law_of(periods);
  const Real y = static_cast<Real>(q) + law.centre;  // a X1 + b X2 > y
  if (y <= 0) return 1.0;
  if (std::isinf(y)) return 0.0;
  // T = 3: a X1 alone.
  if (law.large_shape == 0)
    return static_cast<double>(boost::math::gamma_q(law.small_shape, y / law.small_scale));
  if (law.small_shape == 0)
    return static_cast<double>(boost::math::gamma_q(law.large_shape, y / law.large_scale));
  // a X1 + b X2 <= max(a, b) (X1 + X2): a tail beyond the double's range
  // needs no sum (whose terms would peak far above the mode).
  const Real bound = boost::math::gamma_q(law.small_shape + law.large_shape, y / law.large_scale);
  if (bound < 1e-320L) return static_cast<double>(bound);
  if (law.small_scale == law.large_scale) return static_cast<double>(bound);
  return static_cast<double>(mixture_tail(law, y / law.small_scale));
}

double frees_q_critical_value(double alpha, int periods) {
  check_periods(periods);
  if (!(alpha > 0 && alpha < 1))
    throw InputError("the level of a critical value must be in (0, 1), not " +
                     std::to_string(alpha));
  const Law law = law_of(periods);
  auto excess = [&](double q) { return frees_q_upper_tail(q, periods) - alpha; };
  const double t = periods;
  // Q's standard deviation: Var Q = 2 a^2 (T - 1) + b^2 T(T - 3).
  const double a = 4 * (t + 2) / (5 * (t - 1) * (t - 1) * (t + 1));
  const double b = 2 * (5 * t + 6) / (5 * t * (t - 1) * (t + 1));
  double high = std::sqrt(2 * a * a * (t - 1) + b * b * t * (t - 3));
  while (excess(high) > 0) high *= 2;
  const double low = -static_cast<double>(law.centre);
  std::uintmax_t iterations = 200;
  const auto bracket =
      boost::math::tools::toms748_solve(excess, low, high, 1 - alpha, excess(high),
                                        boost::math::tools::eps_tolerance<double>(47), iterations);
  return (bracket.first + bracket.second) / 2;
}

}  // namespace qvd::analysis
