// Every panel model's residuals tested through the whole analysis against
// R's plm 2.6-2 pcdtest (analysis/fixtures/plm_models_fixture.h): pooling,
// within and random effects by firm, by year and both, pcce's mean group,
// inv as a pseries, and each firm's own regression (plm's figures there are
// the unbalanced block's), on Grunfeld's panel and on an unbalanced version
// of it given as rows with NaN for missing values; the local statistics
// over the band |i - j| <= 1 or over a proximity matrix. Every figure to
// 1e-10 relative, LM's degrees of freedom M exactly, and each scaled LM's
// p-value the upper normal tail 1 - Phi(z), formed here from erfc in long
// double (plm prints the two-sided one). The largest relative difference
// from plm is printed for each model.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/driver/analysis.h"
#include "analysis/fixtures/grunfeld_rows.h"
#include "analysis/fixtures/plm_models_fixture.h"
#include "analysis/input/proximity.h"

namespace qvd::e2e {
namespace {

using analysis::Model;
using analysis::Result;
using analysis::TestKind;
using analysis::TestRow;
using namespace qvd::fixtures;

// inv on value and capital, firms and years as labels (model none tests inv
// as it is, as pcdtest tests pdata$inv, whatever the regressors hold: the
// unbalanced panel lacks some of them where inv is present).
analysis::LongPanel grunfeld(bool balanced) {
  const std::vector<double> rows = grunfeld_rows(balanced);
  analysis::LongPanel data;
  data.id_name = "firm";
  data.time_name = "year";
  data.dependent_name = "inv";
  for (int i = 1; i <= 10; ++i) data.id_labels.push_back(std::to_string(i));
  for (int t = 1935; t <= 1954; ++t) data.time_labels.push_back(std::to_string(t));
  data.regressor_names = {"value", "capital"};
  data.regressors.resize(2);
  for (std::size_t r = 0; r < rows.size(); r += kGrunfeldColumns) {
    data.id_of_row.push_back(static_cast<std::uint32_t>(rows[r] - 1));
    data.time_of_row.push_back(static_cast<std::uint32_t>(rows[r + 1] - 1935));
    data.dependent.push_back(rows[r + 2]);
    for (std::size_t v = 0; v < data.regressors.size(); ++v)
      data.regressors[v].push_back(rows[r + 3 + v]);
  }
  return data;
}

analysis::Options options_for(const PlmModelCase &c) {
  analysis::Options o;
  o.module_path = QVDEP_MODULE_PATH;
  o.model = analysis::model_named(c.model).value();
  if (*c.effect != '\0') o.effect = analysis::effect_named(c.effect).value();
  o.unbalanced_block = o.model == Model::unit;
  if (c.proximity)
    o.neighbours = [](const std::vector<std::string> &ids) {
      return analysis::parse_proximity_csv(kPlmModelsProximity, "w", ids);
    };
  return o;
}

// The kinds of plm's figures: the unbalanced block's for model unit.
struct Kinds {
  TestKind lm, scaled_lm, cd, local_lm, local_scaled_lm, local_cd;
};
constexpr Kinds kModelKinds{TestKind::lm,       TestKind::scaled_lm,       TestKind::cd,
                            TestKind::local_lm, TestKind::local_scaled_lm, TestKind::local_cd};
constexpr Kinds kUnitKinds{TestKind::unbalanced_lm,       TestKind::unbalanced_scaled_lm,
                           TestKind::unbalanced_cd,       TestKind::unbalanced_local_lm,
                           TestKind::unbalanced_local_scaled_lm, TestKind::unbalanced_local_cd};

const TestRow *row_of(const Result &r, TestKind kind) {
  const auto it = std::find_if(r.tests.begin(), r.tests.end(),
                               [kind](const TestRow &row) { return row.kind == kind; });
  return it == r.tests.end() || !it->unavailable.empty() ? nullptr : &*it;
}

// 1 - Phi(z) from erfc in long double, 0 where it is below the doubles.
double upper_normal_tail(double z) {
  return static_cast<double>(0.5L * std::erfc(static_cast<long double>(z) / std::sqrt(2.0L)));
}

double relative(double ours, double theirs) {
  return ours == theirs ? 0 : std::fabs(ours - theirs) / std::fabs(theirs);
}

TEST(PlmModels, EveryModelsFiguresArePlms) {
  std::map<std::string, std::pair<double, std::string>> worst;  // by model and effect: d, where
  for (const bool balanced : {true, false})
    for (const PlmModelCase &c : balanced ? std::span<const PlmModelCase>(kPlmModelsBalanced)
                                          : std::span<const PlmModelCase>(kPlmModelsUnbalanced)) {
      const analysis::Options options = options_for(c);
      const std::string model = std::string(c.model) + (*c.effect ? " " : "") + c.effect;
      const std::string what = model + (c.proximity ? " over w" : "") +
                               (balanced ? ", balanced" : ", unbalanced");
      const Result r = analysis::run_analysis(grunfeld(balanced), options);
      const bool unit = options.model == Model::unit;
      const Kinds &k = unit ? kUnitKinds : kModelKinds;
      const double *plm = c.figures;
      auto &largest = worst[model];
      auto expect_figure = [&](double ours, double theirs, const std::string &name) {
        const double d = relative(ours, theirs);
        EXPECT_LE(d, 1e-10) << what << ": " << name << " " << ours << ", plm " << theirs;
        if (d >= largest.first) largest = {d, what + ": " + name};
      };
      // A row's statistic against plm's, its p-value against plm's (or, for
      // a scaled LM, against the upper tail), and an LM's degrees of freedom.
      auto expect_row = [&](TestKind kind, const char *name, int statistic, int pvalue = -1,
                            int df = -1) {
        const TestRow *row = row_of(r, kind);
        ASSERT_NE(row, nullptr) << what << ": " << name;
        expect_figure(row->statistic, plm[statistic], name);
        if (pvalue >= 0) expect_figure(row->pvalue, plm[pvalue], std::string(name) + " p");
        if (pvalue < 0 && row->distribution.find("upper") != std::string::npos) {
          EXPECT_LE(relative(row->pvalue, upper_normal_tail(row->statistic)), 1e-10)
              << what << ": " << name << " p " << row->pvalue;
        }
        if (df >= 0) {
          EXPECT_EQ(row->distribution, "chi2(" + std::to_string(static_cast<int>(plm[df])) + ")")
              << what << ": " << name;
        }
      };

      expect_row(k.lm, "LM", kPlmLm, kPlmLmP, kPlmLmDf);
      EXPECT_EQ(unit ? static_cast<double>(r.unbalanced.pairs) : r.lm_degrees_of_freedom,
                plm[kPlmLmDf])
          << what;
      expect_row(k.scaled_lm, "scaled LM", kPlmScaledLm);
      if (std::isnan(plm[kPlmBiasCorrectedLm])) {
        EXPECT_EQ(row_of(r, TestKind::bias_corrected_scaled_lm), nullptr) << what;
      } else {
        expect_row(TestKind::bias_corrected_scaled_lm, "LM_BC", kPlmBiasCorrectedLm);
      }
      expect_row(k.cd, "CD", kPlmCd, kPlmCdP);
      if (c.proximity) {
        expect_row(k.local_lm, "local LM", kPlmLocalLm, -1, kPlmLocalLmDf);
        expect_row(k.local_scaled_lm, "local scaled LM", kPlmLocalScaledLm);
      }
      expect_row(k.local_cd, "local CD", kPlmLocalCd, kPlmLocalCdP);
      expect_figure(unit ? r.unbalanced.mean_correlation : r.mean_correlation, plm[kPlmRho], "rho");
      expect_figure(unit ? r.unbalanced.mean_abs_correlation : r.mean_abs_correlation,
                    plm[kPlmAbsRho], "|rho|");
    }
  for (const auto &[model, d] : worst)
    std::printf("%-18s largest relative difference from plm %.1e (%s)\n", model.c_str(), d.first,
                d.second.c_str());
}

}  // namespace
}  // namespace qvd::e2e
