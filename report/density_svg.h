// The distribution of the residual correlations: a histogram of the usable
// rho_ij with a kernel density estimate, and the density the correlations
// would have without cross-sectional dependence, where sqrt(T_ij) rho_ij is
// approximately N(0, 1): the mixture over pairs of N(0, 1/T_ij) densities.
// The legend gives CD, the power-enhanced weighted CD and the averages.
#ifndef QVDEP_REPORT_DENSITY_SVG_H
#define QVDEP_REPORT_DENSITY_SVG_H

#include <string>
#include <vector>

#include "analysis/result/result.h"

namespace qvd::report {

struct CorrelationDensity {
  double low = 0, high = 0;          // the range drawn, within [-1, 1]
  std::vector<double> bar_heights;   // histogram densities of equal bins over [low, high]
  std::vector<double> x;             // points where the curves are evaluated
  std::vector<double> estimate;      // Gaussian kernel density of the rho_ij at x
  std::vector<double> null_density;  // mean over pairs of the N(0, 1/T_ij) density at x
  double bandwidth = 0;              // of the kernel: Silverman's rule
  long pairs = 0;                    // usable pairs
};

// The curves and bars of the usable correlations of `result` (empty when
// there is no usable pair). The kernel estimate is formed on a fine grid of
// binned correlations (the linear binning of Wand 1994), so it costs O(M +
// G^2) for M pairs and G grid points, not O(M G).
CorrelationDensity correlation_density(const analysis::Result &result);

// The legend's figures: CD and CDw+ with their p-values (where available),
// then the average correlation and average absolute correlation.
std::vector<std::string> density_legend(const analysis::Result &result);

// The picture as a standalone SVG document.
std::string density_svg(const analysis::Result &result, const std::string &title);

}  // namespace qvd::report

#endif
