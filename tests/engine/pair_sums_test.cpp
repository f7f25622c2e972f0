// The vector variants of the pairwise stage against the straightforward
// loop over pairs and periods, bit for bit: the eight results and the whole
// correlation block, working sums on the diagonal included, on random
// residual matrices with missing values in every pattern, signed zeros and
// sums of squares around the usability threshold, for every N from 1 to 40
// (every remainder of every block and vector width) and a few larger ones.
#include <bit>
#include <csignal>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "engine/pairwise.h"
#include "platform/cpu_features.h"
#include "numeric/missing_value.h"
#include "support/double_bits.h"
#include "support/fault_recorder.h"
#include "support/packed_index.h"

namespace qvd {
namespace {

enum class Pattern { kNone, kScattered, kDense, kWholeRows, kAlternating, kThreshold, kFewRows };

constexpr std::uint64_t kMissingPatterns[] = {
    0xFFFF000000000000ull, QVDEP_MISSING_RESULT_BITS, 0xFFFFFFFFFFFFFFFFull,
    0xFFFF123456789ABCull};

double missing(std::mt19937_64 &rng) {
  return std::bit_cast<double>(kMissingPatterns[rng() % 4]);
}

// Period-major residuals, T rows of N.
std::vector<double> residuals_of(Pattern p, int n, int t, std::mt19937_64 &rng) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> unit;
  std::vector<double> e(static_cast<std::size_t>(n) * t);
  for (int k = 0; k < n; ++k) {
    // Around the threshold: one row in three has squares summing near
    // 1e-12 (single values of 1e-6 square to it), one in seven is zero.
    const bool tiny = p == Pattern::kThreshold && k % 3 == 1;
    const bool zero = p == Pattern::kThreshold && k % 7 == 3;
    const bool gone = p == Pattern::kWholeRows && k % 4 == 2;
    for (int s = 0; s < t; ++s) {
      double v = normal(rng);
      const double u = unit(rng);
      if (u < 0.03) v = 0.0;
      else if (u < 0.06) v = -0.0;
      if (tiny) v = s == 0 ? 1e-6 * (1.0 + (k % 5 - 2) * 0x1p-52) : 0.0;
      if (zero) v = 0.0;
      bool miss = gone;
      if (p == Pattern::kScattered || p == Pattern::kThreshold) miss = unit(rng) < 0.05;
      if (p == Pattern::kDense) miss = unit(rng) < 0.4;
      if (p == Pattern::kFewRows) miss = k % 29 == 3 && unit(rng) < 0.05;
      if (p == Pattern::kAlternating) miss = k % 2 == 1 && (s + k / 2) % 2 == 0;
      e[static_cast<std::size_t>(s) * n + k] = miss ? missing(rng) : v;
    }
  }
  return e;
}

struct Result {
  DependenceRequest request{};
  std::vector<double> correlations;
};

Result run(bool straightforward, const std::vector<double> &e, int n, int t, int order) {
  Result r;
  r.correlations.assign(testing::packed_cells(n) + 1, 7.0);
  r.request.n_sections = n;
  r.request.n_periods = t;
  r.request.cdp_order = order;
  r.request.correlations = r.correlations.data();
  testing::TrapSetting traps;
  if (straightforward)
    pairwise_statistics_straightforward(r.request, e.data());
  else
    pairwise_statistics(r.request, e.data());
  return r;
}

using testing::bits;

void expect_same(const Result &a, const Result &b) {
  const DependenceRequest &x = a.request, &y = b.request;
  EXPECT_EQ(bits(x.lm), bits(y.lm));
  EXPECT_EQ(bits(x.lm_pvalue), bits(y.lm_pvalue));
  EXPECT_EQ(bits(x.scaled_lm), bits(y.scaled_lm));
  EXPECT_EQ(bits(x.scaled_lm_pvalue), bits(y.scaled_lm_pvalue));
  EXPECT_EQ(bits(x.cd), bits(y.cd));
  EXPECT_EQ(bits(x.cd_pvalue), bits(y.cd_pvalue));
  EXPECT_EQ(bits(x.cdp), bits(y.cdp));
  EXPECT_EQ(bits(x.cdp_pvalue), bits(y.cdp_pvalue));
  ASSERT_EQ(a.correlations.size(), b.correlations.size());
  EXPECT_EQ(std::memcmp(a.correlations.data(), b.correlations.data(),
                        a.correlations.size() * sizeof(double)), 0);
}

// One test per code variant; those the processor lacks are skipped.
class PairSumVariant : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    set_processor_feature_level_for_testing(0);
    if (processor_feature_level() < GetParam())
      GTEST_SKIP() << "the processor does not offer feature level " << std::hex
                   << GetParam() << "; this variant is not tested here";
    set_processor_feature_level_for_testing(GetParam());
  }
  void TearDown() override { set_processor_feature_level_for_testing(0); }
};

void compare(Pattern p, int n, int t, std::mt19937_64 &rng) {
  const std::vector<double> e = residuals_of(p, n, t, rng);
  const int order = n == 0 ? 1 : static_cast<int>(rng() % (n + 1));
  SCOPED_TRACE(::testing::Message() << "pattern " << int(p) << " N " << n
                                    << " T " << t << " p " << order);
  expect_same(run(true, e, n, t, order), run(false, e, n, t, order));
}

constexpr Pattern kPatterns[] = {Pattern::kNone,      Pattern::kScattered,
                                 Pattern::kDense,     Pattern::kWholeRows,
                                 Pattern::kAlternating, Pattern::kThreshold,
                                 Pattern::kFewRows};

TEST_P(PairSumVariant, MatchesTheStraightforwardLoopBitForBit) {
  std::mt19937_64 rng(GetParam());
  for (Pattern p : kPatterns)
    for (int n = 1; n <= 40; ++n) compare(p, n, 1 + static_cast<int>(rng() % 23), rng);
  for (Pattern p : kPatterns) compare(p, 133, 61, rng);
  compare(Pattern::kNone, 300, 250, rng);
  compare(Pattern::kScattered, 257, 250, rng);
  compare(Pattern::kFewRows, 390, 40, rng);
}

#if !defined(_WIN32)
// A NaN residual that is not marked missing still ends in the invalid
// operation trap, as in the straightforward loop. (POSIX: the trap is a
// SIGFPE; on Windows the structured-exception tests cover it.)
TEST_P(PairSumVariant, UnmarkedNanStillTraps) {
  std::mt19937_64 rng(GetParam() + 1);
  for (Pattern p : {Pattern::kNone, Pattern::kScattered}) {
    std::vector<double> e = residuals_of(p, 70, 9, rng);
    e[5 * 70 + 66] = std::bit_cast<double>(0x7FF8000000000000ull);
    EXPECT_EXIT(run(false, e, 70, 9, 2), ::testing::KilledBySignal(SIGFPE), "");
  }
}
#endif

INSTANTIATE_TEST_SUITE_P(Levels, PairSumVariant,
                         ::testing::Values(kFeatureLevelSse2, kFeatureLevelAvx,
                                           kFeatureLevelAvx512));

}  // namespace
}  // namespace qvd
