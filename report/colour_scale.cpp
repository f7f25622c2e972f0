#include "report/colour_scale.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace qvd::report {
namespace {

struct Rgb {
  double r, g, b;
};
constexpr Rgb kNegative{33, 102, 172}, kZero{247, 247, 247}, kPositive{178, 24, 43};
constexpr Rgb8 kUnusable{0xbd, 0xbd, 0xbd};

}  // namespace

Rgb8 correlation_colour(double rho) {
  if (std::isnan(rho)) return kUnusable;
  const double x = std::clamp(rho, -1.0, 1.0);
  const Rgb &end = x < 0 ? kNegative : kPositive;
  const double w = std::fabs(x);
  auto mix = [&](double zero, double far) {
    return static_cast<std::uint8_t>(std::lround(zero + (far - zero) * w));
  };
  return {mix(kZero.r, end.r), mix(kZero.g, end.g), mix(kZero.b, end.b)};
}

std::string hex_colour(Rgb8 c) { return fmt::format("#{:02x}{:02x}{:02x}", c.r, c.g, c.b); }

}  // namespace qvd::report
