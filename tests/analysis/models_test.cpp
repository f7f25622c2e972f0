// Panel models against R's plm 2.6-2: the residuals pcdtest tests for every
// model and effect plm offers, on Grunfeld's panel and on an unbalanced
// version of it (fixtures/plm_residuals_fixture.h), CCE's through the module;
// aliased columns dropped as plm drops them; and the unbalanced two-way
// within transformation against least squares on explicit dummies.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/common/errors.h"
#include "analysis/layout/wide_panel.h"
#include "analysis/models/cce_panel.h"
#include "analysis/models/panel_model.h"
#include "fixtures/grunfeld_rows.h"
#include "fixtures/plm_residuals_fixture.h"
#include "host/dependence_run.h"
#include "qvdep.h"
#include "support/lapack.h"

namespace qvd::analysis {
namespace {

constexpr int kColumns = fixtures::kGrunfeldColumns;  // firm, year, inv, value, capital
const char *const kNames[] = {"firm", "year", "inv", "value", "capital"};

// A panel of the fixture's rows: `dependent` (a column) on `regressors`, each
// through `f`; NaN missing. Firms and years are numbered from 1 and 1935.
struct Rows {
  std::span<const double> rows;
  std::size_t count() const { return rows.size() / kColumns; }
  double at(std::size_t r, int c) const { return rows[r * kColumns + static_cast<std::size_t>(c)]; }
};

using Column = std::function<double(const Rows &, std::size_t)>;

Column column(int c, bool logs = false) {
  return
      [c, logs](const Rows &d, std::size_t r) { return logs ? std::log(d.at(r, c)) : d.at(r, c); };
}

WidePanel wide(const Rows &d, const Column &y, const std::vector<Column> &x) {
  LongPanel data;
  for (int i = 1; i <= 10; ++i) data.id_labels.push_back(std::to_string(i));
  for (int t = 1935; t <= 1954; ++t) data.time_labels.push_back(std::to_string(t));
  data.regressors.resize(x.size());
  data.regressor_names.resize(x.size(), "x");
  for (std::size_t r = 0; r < d.count(); ++r) {
    data.id_of_row.push_back(static_cast<std::uint32_t>(d.at(r, 0) - 1));
    data.time_of_row.push_back(static_cast<std::uint32_t>(d.at(r, 1) - 1935));
    data.dependent.push_back(y(d, r));
    for (std::size_t v = 0; v < x.size(); ++v) data.regressors[v].push_back(x[v](d, r));
  }
  return make_wide_panel(data);
}

std::size_t cell_of(const Rows &d, std::size_t r) {
  return static_cast<std::size_t>(d.at(r, 0) - 1) * 20 +
         static_cast<std::size_t>(d.at(r, 1) - 1935);
}

// The largest difference from plm's residuals relative to their largest
// magnitude; -1 when a residual is missing on one side only or a cell off
// the rows has one.
double difference(const Rows &d, std::span<const double> plm, const WorkVector<double> &ours) {
  double scale = 0, worst = 0;
  for (double e : plm) scale = std::isnan(e) ? scale : std::max(scale, std::fabs(e));
  std::vector<bool> on_rows(ours.size(), false);
  for (std::size_t r = 0; r < d.count(); ++r) {
    const double e = ours[cell_of(d, r)];
    on_rows[cell_of(d, r)] = true;
    if (std::isnan(plm[r]) != static_cast<bool>(qvdep_is_missing(e))) return -1;
    if (!std::isnan(plm[r])) worst = std::max(worst, std::fabs(e - plm[r]) / scale);
  }
  for (std::size_t c = 0; c < ours.size(); ++c)
    if (!on_rows[c] && !qvdep_is_missing(ours[c])) return -1;
  return worst;
}

// The module's residuals (period-major) on the CCE panel, N rows of T.
WorkVector<double> cce_residuals(const WidePanel &w, bool intercept) {
  host::ReferenceHost host(QVDEP_MODULE_PATH);
  host::TestOptions options;
  options.intercept = intercept;
  const host::TestResults r =
      host::run_dependence_test(host, cce_panel(w).panel, options, {.residuals = true});
  EXPECT_TRUE(r.ok()) << r.error();
  WorkVector<double> rows(r.residuals.size());
  for (std::size_t c = 0; c < rows.size(); ++c) rows[c] = r.residuals[(c % 20) * 10 + c / 20];
  return rows;
}

struct Case {
  ModelChoice choice;
  int dependent;  // column of the fixture's rows; the other two are the regressors
  bool logs;
  std::span<const double> balanced, unbalanced;                // plm's residuals
  std::span<const double> balanced_sigma2, unbalanced_sigma2;  // random: idios, id, time
};

TEST(PanelModels, ResidualsEqualPlms) {
  using namespace qvd::fixtures;
  const Model pooling = Model::pooling, within = Model::within, random = Model::random;
  const Effect ind = Effect::individual, time = Effect::time, two = Effect::twoways;
  const Case cases[] = {
      {{pooling, ind, true}, 2, false, kBalancedCase1, kUnbalancedCase1, {}, {}},
      {{pooling, ind, false}, 2, false, kBalancedCase2, kUnbalancedCase2, {}, {}},
      {{within, ind, true}, 2, false, kBalancedCase3, kUnbalancedCase3, {}, {}},
      {{within, time, true}, 2, false, kBalancedCase4, kUnbalancedCase4, {}, {}},
      {{within, two, true}, 2, false, kBalancedCase5, kUnbalancedCase5, {}, {}},
      {{random, ind, true},
       2,
       false,
       kBalancedCase6,
       kUnbalancedCase6,
       kBalancedCase6Sigma2,
       kUnbalancedCase6Sigma2},
      {{random, time, true},
       2,
       false,
       kBalancedCase7,
       kUnbalancedCase7,
       kBalancedCase7Sigma2,
       kUnbalancedCase7Sigma2},
      {{random, two, true},
       2,
       false,
       kBalancedCase8,
       kUnbalancedCase8,
       kBalancedCase8Sigma2,
       kUnbalancedCase8Sigma2},
      {{random, ind, false},
       2,
       false,
       kBalancedCase9,
       kUnbalancedCase9,
       kBalancedCase9Sigma2,
       kUnbalancedCase9Sigma2},
      {{random, time, true},
       4,
       true,
       kBalancedCase10,
       kUnbalancedCase10,
       kBalancedCase10Sigma2,
       kUnbalancedCase10Sigma2},
      {{random, two, true},
       4,
       false,
       kBalancedCase11,
       kUnbalancedCase11,
       kBalancedCase11Sigma2,
       kUnbalancedCase11Sigma2},
      {{Model::cce, ind, true}, 2, false, kBalancedCase12, kUnbalancedCase12, {}, {}},
  };
  for (const Case &c : cases)
    for (const bool balanced : {true, false}) {
      const std::vector<double> values = fixtures::grunfeld_rows(balanced);
      const Rows d{values};
      std::vector<Column> x;
      for (int v = 2; v < kColumns; ++v)
        if (v != c.dependent) x.push_back(column(v, c.logs));
      const WidePanel w = wide(d, column(c.dependent, c.logs), x);
      const std::string what = std::string(model_name(c.choice.model)) + " " +
                               effect_name(c.choice.effect) + (c.choice.intercept ? "" : " -1") +
                               " of " + kNames[c.dependent] + (balanced ? "" : ", unbalanced");
      if (c.choice.model == Model::cce) {
        const double worst = difference(d, balanced ? c.balanced : c.unbalanced,
                                        cce_residuals(w, c.choice.intercept));
        EXPECT_TRUE(worst >= 0 && worst <= 1e-10) << what << ": " << worst;
        std::printf("%-40s largest difference from plm %.1e\n", what.c_str(), worst);
        continue;
      }
      const ModelFit fit = fit_model(w, c.choice, {"x0", "x1"});
      const double worst = difference(d, balanced ? c.balanced : c.unbalanced, fit.residuals);
      EXPECT_TRUE(worst >= 0 && worst <= 1e-10) << what << ": " << worst;
      EXPECT_EQ(fit.balanced, balanced) << what;
      std::printf("%-40s largest difference from plm %.1e\n", what.c_str(), worst);
      const std::span<const double> sigma2 = balanced ? c.balanced_sigma2 : c.unbalanced_sigma2;
      if (sigma2.empty()) {
        EXPECT_TRUE(fit.warnings.empty()) << what;
        continue;
      }
      // plm reports a component that came out negative as zero; here a
      // warning says so.
      const VarianceComponents &v = fit.components.value();
      const double ours[] = {v.idiosyncratic, v.individual, v.time};
      std::size_t zeros = 0;
      for (int s = 0; s < 3; ++s) {
        zeros += sigma2[s] == 0;
        if (std::isnan(sigma2[s]) || sigma2[s] == 0)
          EXPECT_TRUE(std::isnan(sigma2[s]) ? std::isnan(ours[s]) : ours[s] == 0) << what << s;
        else
          EXPECT_NEAR(ours[s], sigma2[s], 1e-10 * sigma2[s]) << what << " component " << s;
      }
      ASSERT_EQ(fit.warnings.size(), zeros) << what;
      if (zeros > 0) {
        EXPECT_NE(fit.warnings[0].find("period variance component is negative"), std::string::npos);
      }
    }
}

TEST(PanelModels, NoneTestsTheDependentColumnAtCompleteCells) {
  const std::vector<double> values = fixtures::grunfeld_rows(false);
  const Rows d{values};
  const ModelFit fit =
      fit_model(wide(d, column(2), {column(3), column(4)}), {.model = Model::none}, {"v", "c"});
  std::vector<double> y(d.count());
  for (std::size_t r = 0; r < d.count(); ++r)
    y[r] = std::isnan(d.at(r, 3)) || std::isnan(d.at(r, 4)) ? NAN : d.at(r, 2);
  EXPECT_EQ(difference(d, y, fit.residuals), 0);
}

// A regressor the effects absorb, or a combination of those before it, is
// dropped with a warning naming it, and the residuals are plm's without it.
TEST(PanelModels, AliasedColumnsAreDroppedAsPlmDropsThem) {
  using namespace qvd::fixtures;
  const Column firm_mean = [](const Rows &d, std::size_t r) { return 100 * d.at(r, 0) + 7; };
  const Column year = column(1);
  const Column combination = [](const Rows &d, std::size_t r) {
    return d.at(r, 3) + 2 * d.at(r, 4);
  };
  struct Aliased {
    ModelChoice choice;
    bool balanced;
    Column extra;
    std::span<const double> plm;
    const char *warning;
  } cases[] = {
      {{Model::within, Effect::individual},
       true,
       firm_mean,
       kBalancedCase3,
       "\"extra\" is constant within every cross-section"},
      {{Model::within, Effect::twoways},
       true,
       year,
       kBalancedCase5,
       "\"extra\" is a sum of cross-section and period effects"},
      {{Model::within, Effect::twoways},
       false,
       year,
       kUnbalancedCase5,
       "\"extra\" is a sum of cross-section and period effects"},
      {{Model::pooling},
       false,
       combination,
       kUnbalancedCase1,
       "\"extra\" is a linear combination of \"const\", \"value\", \"capital\""},
  };
  for (const Aliased &c : cases) {
    const std::vector<double> values = fixtures::grunfeld_rows(c.balanced);
    const Rows d{values};
    const ModelFit fit = fit_model(wide(d, column(2), {column(3), column(4), c.extra}), c.choice,
                                   {"value", "capital", "extra"});
    EXPECT_LE(difference(d, c.plm, fit.residuals), 1e-10) << c.warning;
    ASSERT_EQ(fit.warnings.size(), 1u);
    EXPECT_EQ(fit.warnings[0].rfind(c.warning, 0), 0u) << fit.warnings[0];
    EXPECT_TRUE(std::isnan(fit.coefficients.back().estimate));
  }
}

TEST(PanelModels, RefusesWhatCannotBeEstimated) {
  // Three firms cannot carry a between regression with three coefficients.
  const Rows three{std::span<const double>(fixtures::kGrunfeldRows).first(60 * kColumns)};
  const WidePanel w = wide(three, column(2), {column(3), column(4)});
  EXPECT_THROW(fit_model(w, {.model = Model::random}, {"value", "capital"}), InputError);
  WidePanel empty = w;
  for (std::size_t c = 2; c < empty.panel.values.size(); c += 3)
    empty.panel.values[c] = missing_value();
  EXPECT_THROW(fit_model(empty, {.model = Model::pooling}, {"value", "capital"}), InputError);
  EXPECT_THROW(fit_model(w, {.model = Model::cce}, {"value", "capital"}), std::invalid_argument);
}

// y less its projection on [x, cross-section dummies, period dummies]
// through the singular value decomposition: the two-way within residuals.
std::vector<double> dummy_residuals(const host::Panel &p) {
  std::vector<double> a, y;
  std::vector<std::size_t> cells;
  const std::size_t n = static_cast<std::size_t>(p.sections),
                    t = static_cast<std::size_t>(p.periods);
  for (std::size_t c = 0; c < n * t; ++c)
    if (!qvdep_is_missing(p.values[c * 2]) && !qvdep_is_missing(p.values[c * 2 + 1]))
      cells.push_back(c);
  const int m = static_cast<int>(cells.size()), k = static_cast<int>(1 + n + t);
  a.assign(static_cast<std::size_t>(m * k), 0.0);
  for (std::size_t o = 0; o < cells.size(); ++o) {
    a[o] = p.values[cells[o] * 2];
    a[(1 + cells[o] / t) * cells.size() + o] = 1;
    a[(1 + n + cells[o] % t) * cells.size() + o] = 1;
    y.push_back(p.values[cells[o] * 2 + 1]);
  }
  const int r = std::min(m, k), lwork = 10 * (m + k);
  std::vector<double> s(static_cast<std::size_t>(r)), u(static_cast<std::size_t>(m * r)),
      work(static_cast<std::size_t>(lwork));
  int info = 0, one = 1;
  dgesvd_("S", "N", &m, &k, a.data(), &m, s.data(), u.data(), &m, nullptr, &one, work.data(),
          &lwork, &info, 1, 1);
  EXPECT_EQ(info, 0);
  std::vector<double> e(n * t, missing_value());
  std::vector<double> fitted(cells.size(), 0.0);
  for (int j = 0; j < r && s[static_cast<std::size_t>(j)] > 1e-9 * s[0]; ++j) {
    const double *uj = u.data() + static_cast<std::size_t>(j * m);
    double dot = 0;
    for (int o = 0; o < m; ++o) dot += uj[o] * y[static_cast<std::size_t>(o)];
    for (int o = 0; o < m; ++o) fitted[static_cast<std::size_t>(o)] += uj[o] * dot;
  }
  for (std::size_t o = 0; o < cells.size(); ++o) e[cells[o]] = y[o] - fitted[o];
  return e;
}

// Random unbalanced panels, some in two blocks that share no period (the
// period dummies then lose two ranks, not one).
TEST(PanelModels, UnbalancedTwoWayWithinIsTheDummyRegression) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> normal;
  for (int round = 0; round < 20; ++round) {
    const int n = 3 + static_cast<int>(rng() % 8), t = 3 + static_cast<int>(rng() % 8);
    const bool blocks = round % 2 == 1;
    WidePanel w;
    w.panel = {n, t, 1, std::vector<double>(static_cast<std::size_t>(n * t * 2))};
    for (int i = 0; i < n; ++i)
      for (int s = 0; s < t; ++s) {
        double *cell = &w.panel.values[static_cast<std::size_t>((i * t + s) * 2)];
        cell[0] = normal(rng) + i;
        cell[1] = 2 * cell[0] + normal(rng) + s;
        const bool apart = blocks && (i < n / 2) != (s < t / 2);
        if (apart || rng() % 5 == 0) cell[rng() % 2] = missing_value();
      }
    const ModelFit fit = fit_model(w, {.model = Model::within, .effect = Effect::twoways}, {"x"});
    const std::vector<double> reference = dummy_residuals(w.panel);
    double scale = 0;  // of y
    for (std::size_t c = 1; c < w.panel.values.size(); c += 2)
      scale = qvdep_is_missing(w.panel.values[c]) ? scale
                                                  : std::max(scale, std::fabs(w.panel.values[c]));
    for (std::size_t c = 0; c < reference.size(); ++c) {
      ASSERT_EQ(qvdep_is_missing(reference[c]), qvdep_is_missing(fit.residuals[c])) << round;
      if (!qvdep_is_missing(reference[c])) {
        EXPECT_NEAR(fit.residuals[c], reference[c], 1e-12 * scale) << round;
      }
    }
  }
}

}  // namespace
}  // namespace qvd::analysis
