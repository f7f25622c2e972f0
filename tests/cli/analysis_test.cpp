// The analysis library called in memory, as a binding calls it: columns of
// rows with NaN for missing values, periods sorted as numbers or as text.
#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "analysis/analysis.h"
#include "analysis/errors.h"
#include "pipeline_reference.h"

namespace qvd::e2e {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Long columns of a module-layout panel, rows in reverse order, periods
// labelled by `period_label`.
analysis::LongPanel long_columns(const host::Panel &p, std::string (*period_label)(int)) {
  analysis::LongPanel data;
  data.regressors.resize(static_cast<std::size_t>(p.regressors));
  for (int v = 0; v < p.regressors; ++v) data.regressor_names.push_back("x" + std::to_string(v));
  for (int i = 0; i < p.sections; ++i)
    for (int t = p.periods - 1; t >= 0; --t) {
      const double *o = p.values.data() + (static_cast<std::size_t>(i) * p.periods + t) * (p.regressors + 1);
      auto value = [](double v) { return marked_missing(v) ? kNaN : v; };
      data.ids.push_back(std::to_string(100 - i));
      data.times.push_back(period_label(t));
      data.dependent.push_back(value(o[p.regressors]));
      for (int v = 0; v < p.regressors; ++v) data.regressors[static_cast<std::size_t>(v)].push_back(value(o[v]));
    }
  return data;
}

std::string numeric(int t) { return std::to_string(t + 8); }     // 8, 9, 10, ...: as numbers
std::string text(int t) { return "q" + std::string(1, static_cast<char>('a' + t)); }

TEST(AnalysisInMemory, NanIsMissingAndPeriodsSortAsNumbersOrText) {
  std::mt19937_64 rng(3);
  const host::Panel panel = random_panel(rng, {8, 12, 2, true, 0.5, 0.1, true, 0});
  host::TestOptions direct_options;
  direct_options.cdp_order = 2;
  const host::TestResults direct = host::run_dependence_test(module_host(), panel, direct_options);
  ASSERT_TRUE(direct.ok());
  analysis::Options options;
  options.order = 2;
  options.module_path = QVDEP_MODULE_PATH;
  for (auto label : {&numeric, &text}) {
    const analysis::Result r = analysis::run_analysis(long_columns(panel, label), options);
    EXPECT_EQ(r.period_labels.front(), label(0));
    EXPECT_EQ(r.period_labels.back(), label(11));
    EXPECT_EQ(r.section_labels.front(), "100");
    EXPECT_EQ(r.module.lm, direct.lm);
    EXPECT_EQ(r.module.cd, direct.cd);
    EXPECT_EQ(r.module.cdp, direct.cdp);
    EXPECT_EQ(r.module.scaled_lm_pvalue, direct.scaled_lm_pvalue);
  }
  analysis::LongPanel infinite = long_columns(panel, &numeric);
  infinite.dependent[5] = std::numeric_limits<double>::infinity();
  EXPECT_THROW(analysis::run_analysis(infinite, options), analysis::InputError);
}

}  // namespace
}  // namespace qvd::e2e
