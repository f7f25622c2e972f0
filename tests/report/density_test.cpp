// The density picture's curves against their definitions: histogram bars
// and the null mixture that integrate to one, and the binned kernel
// estimate against the kernel sum over every correlation.
#include <cmath>
#include <numbers>
#include <random>

#include <gtest/gtest.h>

#include "report/density_svg.h"

namespace qvd::report {
namespace {

// N cross-sections whose pairs have normal correlations of spread 0.15,
// T_ij periods alternating between 20 and 40, and a few pairs unusable.
analysis::Result correlated(int n) {
  analysis::Result r;
  const std::size_t size = static_cast<std::size_t>(n);
  r.section_labels.resize(size);
  r.correlations = host::OwnedArray<double>(analysis::packed_cells(size));
  r.common_periods.assign(analysis::packed_cells(size), 30);
  for (std::size_t i = 0; i < size; ++i) r.correlations[analysis::packed_index(i, i)] = 1.0;
  std::mt19937_64 rng(11);
  std::normal_distribution<double> normal(0.1, 0.15);
  for (std::size_t i = 0; i < size; ++i)
    for (std::size_t j = i + 1; j < size; ++j) {
      const double rho = (i + j) % 17 == 0 ? std::nan("") : normal(rng);
      r.correlations[analysis::packed_index(i, j)] = rho;
      r.common_periods[analysis::packed_index(i, j)] = (i + j) % 2 ? 20 : 40;
    }
  return r;
}

double trapezoid(const std::vector<double> &x, const std::vector<double> &y) {
  double area = 0;
  for (std::size_t g = 1; g < x.size(); ++g) area += (x[g] - x[g - 1]) * (y[g] + y[g - 1]) / 2;
  return area;
}

TEST(Density, CurvesMatchTheirDefinitions) {
  const analysis::Result r = correlated(60);
  const CorrelationDensity d = correlation_density(r);
  ASSERT_GT(d.pairs, 1500);
  const double bin = (d.high - d.low) / static_cast<double>(d.bar_heights.size());
  double bars = 0;
  for (double h : d.bar_heights) bars += h * bin;
  EXPECT_NEAR(bars, 1.0, 1e-12);
  EXPECT_NEAR(trapezoid(d.x, d.estimate), 1.0, 2e-3);
  EXPECT_NEAR(trapezoid(d.x, d.null_density), 1.0, 2e-3);

  // The kernel sum over every usable correlation, directly.
  std::vector<double> rho;
  const std::size_t n = r.section_labels.size();
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j)
      if (!std::isnan(analysis::correlation_of(r, i, j))) rho.push_back(analysis::correlation_of(r, i, j));
  ASSERT_EQ(static_cast<long>(rho.size()), d.pairs);
  double largest = 0, worst = 0;
  for (std::size_t g = 0; g < d.x.size(); g += 20) {
    double sum = 0;
    for (double v : rho) {
      const double z = (d.x[g] - v) / d.bandwidth;
      sum += std::exp(-0.5 * z * z) / std::sqrt(2 * std::numbers::pi);
    }
    const double direct = sum / (static_cast<double>(rho.size()) * d.bandwidth);
    largest = std::max(largest, direct);
    worst = std::max(worst, std::fabs(direct - d.estimate[g]));
  }
  EXPECT_LT(worst, 1e-3 * largest);

  // Half the pairs have T = 20, half T = 40: the null mixture at 0.
  const double at_zero = (std::sqrt(20.0) + std::sqrt(40.0)) / 2 / std::sqrt(2 * std::numbers::pi);
  std::size_t zero = 0;
  for (std::size_t g = 0; g < d.x.size(); ++g)
    if (std::fabs(d.x[g]) < std::fabs(d.x[zero])) zero = g;
  EXPECT_NEAR(d.null_density[zero], at_zero, 0.02 * at_zero);
}

TEST(Density, NoUsablePairDrawsAnEmptyPicture) {
  analysis::Result r = correlated(1);
  EXPECT_EQ(correlation_density(r).pairs, 0);
  EXPECT_NE(density_svg(r, "t").find("no pair could be correlated"), std::string::npos);
}

}  // namespace
}  // namespace qvd::report
