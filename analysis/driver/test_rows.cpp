#include "analysis/driver/test_rows.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "analysis/common/not_a_number.h"
#include "analysis/stats/tail_probability.h"

namespace qvd::analysis {
namespace {

// CD* divides by w = N^-1 sum_i (1 - sigma_i gamma_i'phi)^2, which is near
// zero when the loadings are nearly alike across cross-sections (every
// weight then nearly cancels). Its first-order correction is then far from
// its limit: in simulations with N = 100, T = 50 and two strong factors it
// rejected 11 % of true nulls at w = 0.03 and 67 % at w = 0.01, against
// 7 % at w = 0.13 and above.
constexpr double kSmallCdStarScale = 0.1;

std::string small_scale_warning(double w) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", w);
  return std::string("CD*: the scale of its correction, w = ") + text +
         ", is near zero (the factor loadings are nearly alike across cross-sections); "
         "CD* divides by w and over-rejects when w is below about 0.1, so do not trust its "
         "p-value here";
}

// The result's values for a row of `kind` and `df` degrees of freedom.
PatternValues values_for(const Result &r, TestKind kind, long long df = 0) {
  PatternValues values = pattern_values(r, kind);
  values.df = df;
  return values;
}

}  // namespace

TestRow test_row(TestKind kind, double statistic, double pvalue, const PatternValues &values,
                 std::string unavailable) {
  const TestKindInfo &info = test_kind(kind);
  if (!unavailable.empty()) statistic = pvalue = kNaN;
  return {kind,
          filled(info.name, values),
          statistic,
          filled(info.distribution, values),
          pvalue,
          std::isnan(pvalue) ? PValueSource::none : PValueSource::tool,
          std::string(info.reference),
          std::move(unavailable),
          ""};
}

void add_module_rows(Result &r) {
  const ModuleResults &m = r.module;
  const auto df = static_cast<long long>(r.lm_degrees_of_freedom);
  auto row = [&](TestKind kind, double statistic, double pvalue) {
    r.tests.push_back(test_row(kind, statistic, pvalue, values_for(r, kind, df)));
  };
  row(TestKind::lm, m.lm, r.lm_pvalue_tool);
  row(TestKind::scaled_lm, m.scaled_lm, normal_upper_tail(m.scaled_lm));
  row(TestKind::cd, m.cd, normal_two_sided(m.cd));
  row(TestKind::local_cd, m.cdp, normal_two_sided(m.cdp));
}

namespace {

// The rows of one set of plm's statistics (over every pair or over the
// neighbours), as the kinds given; the LMs only `with_lms`.
struct PlmKinds {
  TestKind lm, scaled_lm, cd;
};

void add_plm_set(Result &r, const UnbalancedDependence &d, PlmKinds kinds, bool with_lms,
                 const std::string &none) {
  auto row = [&](TestKind kind, double statistic, double pvalue) {
    r.tests.push_back(test_row(kind, statistic, pvalue, values_for(r, kind, d.pairs), none));
  };
  if (with_lms) {
    row(kinds.lm, d.lm, d.lm_pvalue);
    row(kinds.scaled_lm, d.scaled_lm, d.scaled_lm_upper_pvalue);
  }
  row(kinds.cd, d.cd, d.cd_pvalue);
}

}  // namespace

void add_plm_rows(Result &r, const UnbalancedBlock &block, const Statistic *lm_bc) {
  const bool named = static_cast<bool>(r.options.neighbours);
  add_plm_set(r, block.all, {TestKind::lm, TestKind::scaled_lm, TestKind::cd}, true, "");
  if (lm_bc) {
    TestRow row = test_row(TestKind::bias_corrected_scaled_lm, lm_bc->statistic, lm_bc->pvalue,
                           values_for(r, TestKind::bias_corrected_scaled_lm),
                           lm_bc->available ? "" : lm_bc->reason);
    r.tests.insert(r.tests.end() - 1, std::move(row));  // before CD, as plm's list
  }
  add_plm_set(r, block.local, {TestKind::local_lm, TestKind::local_scaled_lm, TestKind::local_cd},
              named, block.local.pairs == 0 ? "no neighbour pair has a correlation" : "");
}

void add_unbalanced_rows(Result &r, const UnbalancedBlock &block) {
  const UnbalancedDependence &all = block.all, &local = block.local;
  r.unbalanced = {true, all.pairs, all.omitted_pairs, all.mean_correlation,
                  all.mean_abs_correlation};
  add_plm_set(r, all,
              {TestKind::unbalanced_lm, TestKind::unbalanced_scaled_lm, TestKind::unbalanced_cd},
              true, all.pairs == 0 ? "no pair has a centred correlation" : "");
  add_plm_set(r, local,
              {TestKind::unbalanced_local_lm, TestKind::unbalanced_local_scaled_lm,
               TestKind::unbalanced_local_cd},
              static_cast<bool>(r.options.neighbours),
              local.pairs == 0 ? "no neighbour pair has one" : "");
}

void add_beyond_rows(Result &r, const Statistic &adjusted, const CdStar &star,
                     std::string misfit) {
  auto row = [&](TestKind kind, double statistic, double pvalue, std::string unavailable = "") {
    r.tests.push_back(test_row(kind, statistic, pvalue, values_for(r, kind), std::move(unavailable)));
  };
  row(TestKind::weighted_cd, r.weighted_cd, r.weighted_cd_pvalue);
  row(TestKind::weighted_cd_plus, r.weighted_cd_plus, r.weighted_cd_plus_pvalue);
  if (misfit.empty() && !star.available) misfit = star.reason;
  r.cd_star_w = misfit.empty() ? star.w : kNaN;
  if (misfit.empty() && star.w < kSmallCdStarScale) r.warnings.push_back(small_scale_warning(star.w));
  row(TestKind::bias_adjusted_lm, adjusted.statistic, adjusted.pvalue,
      adjusted.available ? "" : adjusted.reason);
  row(TestKind::cd_star, star.statistic, star.pvalue, misfit);
}

void add_rank_rows(Result &r, const RankTests &ranks) {
  const RankStatistic &fr = ranks.friedman;
  const FreesStatistic &fre = ranks.frees;
  r.rank_tests = {true, fr.periods_used, ranks.common_periods_only, fre.critical_10,
                  fre.critical_5, fre.critical_1};
  const std::string note =
      ranks.common_periods_only && fr.available
          ? "ranks over the " + std::to_string(fr.periods_used) +
                " periods every cross-section has a residual in, of " +
                std::to_string(r.shape.periods)
          : "";
  auto row = [&](TestKind kind, const Statistic &s, long long df) {
    TestRow added = test_row(kind, s.statistic, s.pvalue, values_for(r, kind, df),
                             s.available ? "" : s.reason);
    added.note = note;
    r.tests.push_back(std::move(added));
  };
  row(TestKind::friedman, fr, std::max(fr.periods_used - 1, 0));
  row(TestKind::frees, fre, 0);
}

}  // namespace qvd::analysis
