#include "analysis/common/not_a_number.h"
#include "analysis/stats/tail_probability.h"

#include <cmath>
#include <limits>

#include <boost/math/constants/constants.hpp>
#include <boost/math/special_functions/erf.hpp>
#include <boost/math/special_functions/gamma.hpp>
#include <boost/multiprecision/cpp_bin_float.hpp>

namespace qvd::analysis {
namespace {


// Below this, Boost's Q(a, x) leaves Temme's expansion for its continued
// fraction, whose error grows with the shape.
constexpr long double kTemmeFloor = 1e-6L;

long double erfc_of_scaled(double z) {
  const long double root_two = boost::math::constants::root_two<long double>();
  const long double x = static_cast<long double>(z) / root_two;
  return boost::math::erfc(x);
}

}  // namespace

double normal_upper_tail(double z) {
  if (std::isnan(z)) return kNaN;
  return static_cast<double>(erfc_of_scaled(z) / 2);
}

double normal_two_sided(double z) {
  if (std::isnan(z)) return kNaN;
  return static_cast<double>(erfc_of_scaled(std::fabs(z)));
}

double normal_upper_quantile(double tail) {
  if (!(tail > 0 && tail < 1)) return kNaN;
  return boost::math::constants::root_two<double>() * boost::math::erfc_inv(2 * tail);
}

double chi2_upper_tail(double x, double df) {
  if (!(df >= 1) || std::isnan(x)) return kNaN;
  if (x <= 0) return 1.0;
  if (std::isinf(x)) return 0.0;
  // Both halvings are exact.
  const long double near = boost::math::gamma_q(static_cast<long double>(df) / 2,
                                                static_cast<long double>(x) / 2);
  if (near >= kTemmeFloor) return static_cast<double>(near);
  using Quad = boost::multiprecision::cpp_bin_float_quad;
  return static_cast<double>(boost::math::gamma_q(Quad(df) / 2, Quad(x) / 2));
}

}  // namespace qvd::analysis
