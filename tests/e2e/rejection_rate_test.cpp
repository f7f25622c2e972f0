// Size and power of the tests on simulated panels. Under independent errors
// the CD and scaled LM tests at the 5 % level must reject about 5 % of the
// panels (2 % to 9 % allows for the binomial spread of a few hundred panels
// and for the small-sample bias of scaled LM, which grows with N/T); with a
// strong common factor in the errors both must reject almost always.
// Seeded and deterministic; the panels are small so that the test is fast.
#include <cstdio>
#include <random>

#include <gtest/gtest.h>

#include "pipeline_reference.h"

namespace qvd::e2e {
namespace {

struct Rates {
  double cd = 0, scaled_lm = 0, lm = 0, cdp = 0;
};

Rates rejection_rates(double loading, int panels, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  const PanelShape shape{.sections = 8, .periods = 40, .regressors = 1,
                         .intercept = true, .factor_loading = loading};
  host::TestOptions options;
  options.cdp_order = 2;
  Rates counts;
  for (int k = 0; k < panels; ++k) {
    const host::TestResults r =
        host::run_dependence_test(module_host(), random_panel(rng, shape), options);
    EXPECT_TRUE(r.ok()) << r.error();
    counts.cd += r.cd_pvalue < 0.05;
    counts.scaled_lm += r.scaled_lm_pvalue < 0.05;
    counts.lm += r.lm_pvalue < 0.05;
    counts.cdp += r.cdp_pvalue < 0.05;
  }
  return {counts.cd / panels, counts.scaled_lm / panels, counts.lm / panels,
          counts.cdp / panels};
}

TEST(EndToEndRejectionRates, IndependentErrorsRejectAtAboutTheNominalRate) {
  const Rates r = rejection_rates(0.0, 400, 314159);
  std::printf("independent errors, 400 panels N=8 T=40: rejection at 5%%: CD %.4f, "
              "scaled LM %.4f, LM %.4f, CD(2) %.4f\n",
              r.cd, r.scaled_lm, r.lm, r.cdp);
  for (double rate : {r.cd, r.scaled_lm, r.lm, r.cdp}) {
    EXPECT_GE(rate, 0.02);
    EXPECT_LE(rate, 0.09);
  }
}

TEST(EndToEndRejectionRates, StrongCommonFactorIsDetected) {
  const Rates r = rejection_rates(1.5, 100, 271828);
  std::printf("common factor, 100 panels N=8 T=40: rejection at 5%%: CD %.4f, "
              "scaled LM %.4f, LM %.4f, CD(2) %.4f\n",
              r.cd, r.scaled_lm, r.lm, r.cdp);
  for (double rate : {r.cd, r.scaled_lm, r.lm, r.cdp}) EXPECT_GE(rate, 0.98);
}

}  // namespace
}  // namespace qvd::e2e
