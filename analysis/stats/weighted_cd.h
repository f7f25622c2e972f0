// The weighted CD of Juodis and Reese (2022), "The incidental parameters
// problem in testing for remaining cross-section correlation", JBES 40: the
// CD of the residuals multiplied by independent random signs w_i, one per
// cross-section. A sign changes no sum of squares and no common period,
// and turns rho_ij into w_i w_j rho_ij, so
//
//   CD_W = sqrt(2/(N(N-1))) sum_{i<j} sqrt(T_ij) w_i w_j rho_ij
//
// over the usable pairs, two-sided N(0,1); the signs average away the bias
// that estimated factors and time effects leave in the CD.
//
// Summed over R independent draws of the signs, so that the decision rests
// less on the outcome of a single draw:
//
//   CD_W,R = (sum_{r=1..R} CD_W(w^(r))) / sqrt(R),
//
// each draw N(0,1) under the null, so their scaled sum is too. The signs come
// from one 64-bit Mersenne twister seeded once with `seed`: draw r takes the
// next N outputs of the same stream, each the sign that random_signs draws.
// Draw 1 is therefore random_signs(N, seed), and with R = 1 the statistic is
// weighted_cd(pairs, random_signs(N, seed)) to the bit.
//
// Its power-enhanced form, after Fan, Liao and Yao (2015), "Power
// enhancement in high-dimensional cross-sectional tests", Econometrica 83:
//
//   CD_W+ = CD_W + sum_{i<j} |rho_ij| 1(|rho_ij| > 2 sqrt(ln N / T_ij)),
//
// two-sided N(0,1). Under the null every |rho_ij| is O(1/sqrt(T)) and the
// screen 2 sqrt(ln N / T) eventually removes every pair (with probability
// going to one), so the added sum vanishes and CD_W's distribution is kept;
// under sparse alternatives the few large correlations pass the screen and
// enlarge the statistic. The screen is applied to the correlation itself:
// comparing sqrt(T)|rho| with it, and adding sqrt(T)|rho|, would make the
// sum grow with T under the null. pair_sums forms the screened sum beside
// the other sums over the pairs.
#ifndef QVDEP_ANALYSIS_STATS_WEIGHTED_CD_H
#define QVDEP_ANALYSIS_STATS_WEIGHTED_CD_H

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "analysis/common/stop_flag.h"
#include "analysis/stats/pair_table.h"

namespace qvd::analysis {

// Q R = sqrt(2 T_ij) / sqrt(N (N - 1)) for each count T_ij of shared
// periods: the weight of w_i w_j rho_ij in CD_W.
inline auto weighted_cd_weights(const PairTable &pairs) {
  const double n = pairs.sections;
  const double q = 1.0 / std::sqrt(n * (n - 1));
  return PerCommonPeriods([q](int common) { return q * std::sqrt(2.0 * common); },
                          most_common_periods(pairs));
}

// A usable pair's term of CD_W: its weight Q R (weighted_cd_weights) times
// w_i w_j rho_ij. Every sum of CD_W forms its terms here, so that any two
// give the same bits.
inline double weighted_cd_term(double qr, int w_i, int w_j, double rho) {
  return qr * (static_cast<double>(w_i * w_j) * rho);
}

// N independent signs, +1 or -1 with equal probability, from a 64-bit
// Mersenne twister seeded with `seed` (its output sequence is fixed by the
// C++ standard, so a seed gives the same signs everywhere).
std::vector<int> random_signs(int sections, std::uint64_t seed);

// CD_W = sum over usable pairs of (Q*R)*(w_i w_j rho_ij), Q = 1/sqrt(N(N-1)),
// R = sqrt(2 T_ij): the module's CD with every correlation's sign flipped by
// the weights.
double weighted_cd(const PairTable &pairs, const std::vector<int> &signs);

// CD_W,R over the usable pairs of `pairs`. Throws InputError when draws < 1.
double weighted_cd_draws(const PairTable &pairs, int draws, std::uint64_t seed,
                         const StopFlag &stop = {});

// The screen 2 sqrt(ln N / T_ij) for each count of shared periods. A
// usable pair shares at least one period; the table starts at a count of 0
// all the same, where the screen is infinite and nothing passes it.
inline auto screens(const PairTable &pairs) {
  const double log_n = std::log(static_cast<double>(pairs.sections));
  return PerCommonPeriods(
      [log_n](int common) {
        return common > 0 ? 2.0 * std::sqrt(log_n / common)
                          : std::numeric_limits<double>::infinity();
      },
      most_common_periods(pairs));
}

// A pair's term of the screened sum: |rho| when it passes the screen, else
// +0. An unusable pair's NaN fails the comparison, and a pair that does not
// pass adds +0, which leaves the sum as it was (it starts at +0 and only
// grows, so it is never -0): the same sum as skipping both. The
// magnitude's bits are masked rather than chosen by a branch (which
// compilers make of a conditional expression), which pairs near the screen
// would make unpredictable. Every sum of the screened terms forms them here.
inline double screened(double rho, double screen) {
  const double magnitude = std::fabs(rho);
  const std::uint64_t keep = -static_cast<std::uint64_t>(magnitude > screen);
  return std::bit_cast<double>(std::bit_cast<std::uint64_t>(magnitude) & keep);
}

}  // namespace qvd::analysis

#endif
