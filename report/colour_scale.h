// The diverging colour scale of the correlation heatmaps, vector and
// raster alike: blue for -1, white for 0, red for +1, mixed linearly in
// RGB towards the end the correlation leans to, and grey for a pair that
// could not be correlated (NaN). Correlations outside [-1, 1] take the
// colour of the nearer end.
#ifndef QVDEP_REPORT_COLOUR_SCALE_H
#define QVDEP_REPORT_COLOUR_SCALE_H

#include <cstdint>
#include <string>

namespace qvd::report {

struct Rgb8 {
  std::uint8_t r, g, b;
  friend bool operator==(const Rgb8 &, const Rgb8 &) = default;
};

Rgb8 correlation_colour(double rho);

// "#rrggbb", as SVG writes a colour.
std::string hex_colour(Rgb8 colour);

}  // namespace qvd::report

#endif
