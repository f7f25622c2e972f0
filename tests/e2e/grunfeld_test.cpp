// Grunfeld's investment data (10 firms, 1935-1954): per-firm regressions of
// gross investment on the value of the firm and its capital stock, with
// intercept. The published results of an established statistics package
// for this panel must be reproduced to the digits it prints.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pipeline_reference.h"

namespace qvd::e2e {
namespace {

struct Observation {
  double inv, value, capital;
};

// The file's columns: firm, year, inv, value, capital.
host::Panel read_grunfeld() {
  std::ifstream in(QVDEP_EXAMPLES_DIR "/grunfeld.csv");
  EXPECT_TRUE(in.good());
  std::string line;
  std::getline(in, line);  // header
  std::vector<int> firms;
  std::map<int, std::map<int, Observation>> data;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream fields(line);
    int firm = 0, year = 0;
    Observation o{};
    fields >> firm >> year >> o.inv >> o.value >> o.capital;
    EXPECT_FALSE(fields.fail()) << line;
    if (std::find(firms.begin(), firms.end(), firm) == firms.end())
      firms.push_back(firm);
    data[firm][year] = o;
  }
  host::Panel panel{static_cast<int>(firms.size()), 0, 2, {}};
  panel.periods = static_cast<int>(data[firms.front()].size());
  for (int firm : firms) {
    EXPECT_EQ(static_cast<int>(data[firm].size()), panel.periods);
    for (const auto &[year, o] : data[firm]) {  // years in increasing order
      panel.values.push_back(o.value);
      panel.values.push_back(o.capital);
      panel.values.push_back(o.inv);
    }
  }
  return panel;
}

// |x - printed| no more than half a unit in the printed last place.
void expect_printed(double x, double printed, double last_place, const char *what) {
  EXPECT_LE(std::fabs(x - printed), 0.5 * last_place)
      << what << " = " << x << ", printed " << printed;
}

TEST(EndToEndGrunfeld, ReproducesThePublishedStatistics) {
  const host::Panel panel = read_grunfeld();
  ASSERT_EQ(panel.sections, 10);
  ASSERT_EQ(panel.periods, 20);
  host::TestOptions options;  // intercept
  options.cdp_order = 2;
  const host::TestResults r = host::run_dependence_test(module_host(), panel, options);
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_TRUE(r.faults.empty());
  std::printf("Grunfeld: LM %.6f (p %.6e), scaled LM %.6f (p %.6e), CD %.6f "
              "(p %.6e), CD(2) %.6f (p %.6e)\n",
              r.lm, r.lm_pvalue, r.scaled_lm, r.scaled_lm_pvalue, r.cd,
              r.cd_pvalue, r.cdp, r.cdp_pvalue);

  expect_printed(r.lm, 97.618, 1e-3, "LM");
  expect_printed(r.lm_pvalue, 9.318e-06, 1e-9, "LM p-value");
  expect_printed(r.scaled_lm, 5.5464, 1e-4, "scaled LM");
  expect_printed(r.cd, 5.3401, 1e-4, "CD");
  expect_printed(r.cd_pvalue, 9.292e-08, 1e-11, "CD p-value");
  expect_printed(r.cdp, 3.9633, 1e-4, "CD(2)");

  // The independent reference agrees to far more digits.
  const ReferenceResults ref = reference_test(panel, options);
  EXPECT_NEAR(r.lm, ref.lm, 1e-11 * ref.lm_scale);
  EXPECT_NEAR(r.cd, ref.cd, 1e-11 * ref.cd_scale);
  EXPECT_NEAR(r.cdp, ref.cdp, 1e-11 * ref.cdp_scale);
}

}  // namespace
}  // namespace qvd::e2e
