#include "report/report.h"

#include <cmath>

#include <fmt/format.h>

namespace qvd::report {
namespace {

std::string join(const std::vector<std::string> &names, const char *separator) {
  std::string text;
  for (const auto &n : names) text += (text.empty() ? "" : separator) + n;
  return text;
}

std::string model_line(const analysis::Result &r) {
  std::vector<std::string> terms;
  if (r.options.intercept) terms.push_back("const");
  terms.insert(terms.end(), r.regressors.begin(), r.regressors.end());
  return fmt::format("{} ~ {}, one equation per {}", r.dependent,
                     terms.empty() ? std::string("(nothing: the residuals are the data)")
                                   : join(terms, " + "),
                     r.id_name);
}

// The row's title in the report: its test's author and name; the local CD
// shows its order.
std::string test_title(const analysis::TestRow &row, int order) {
  switch (row.kind) {
    case analysis::TestKind::lm: return "Breusch-Pagan LM";
    case analysis::TestKind::scaled_lm: return "Pesaran scaled LM";
    case analysis::TestKind::cd: return "Pesaran CD";
    case analysis::TestKind::local_cd: return fmt::format("local CD({})", order);
    case analysis::TestKind::weighted_cd: return row.name;
    case analysis::TestKind::weighted_cd_plus: return "weighted CD+";
    case analysis::TestKind::bias_adjusted_lm: return "bias-adjusted LM";
    case analysis::TestKind::cd_star: return row.name;
    case analysis::TestKind::unbalanced_lm: return "LM";
    case analysis::TestKind::unbalanced_scaled_lm: return "scaled LM";
    case analysis::TestKind::unbalanced_cd: return "CD";
    case analysis::TestKind::unbalanced_local_cd: return fmt::format("local CD({})", order);
  }
  return row.name;
}

std::string statistic(double x) {
  return std::isnan(x) ? std::string("NA") : fmt::format("{:.6f}", x);
}

}  // namespace

std::string format_pvalue(double p) {
  if (std::isnan(p)) return "NA";
  if (p == 0.0) return "< 2.2e-16";
  return fmt::format("{:.6g}", p);
}

std::string report_text(const std::string &source, const analysis::Result &r) {
  const analysis::PanelShape &s = r.shape;
  std::string out = "Cross-sectional dependence of the residuals of per-cross-section regressions\n\n";
  out += fmt::format("  data:          {}\n", source);
  out += fmt::format("  model:         {}\n", model_line(r));
  for (const auto &text : r.options.restrictions) out += fmt::format("  restriction:   {}\n", text);
  out += fmt::format("  panel:         {} cross-sections ({}), {} periods ({}), {} regressor{}\n",
                     s.sections, r.id_name, s.periods, r.time_name, s.regressors,
                     s.regressors == 1 ? "" : "s");
  out += fmt::format("  observations:  {} complete of {} cells ({} rows read)\n",
                     s.complete_observations, static_cast<long>(s.sections) * s.periods, s.rows);
  out += fmt::format("  pairs:         {} usable, {} could not be correlated\n\n", s.usable_pairs,
                     s.unusable_pairs);

  bool tool_pvalue = false;
  auto table = [&](bool unbalanced) {
    out += fmt::format("  {:<20} {:>12}  {:<18} {:>12}\n", "test", "statistic", "distribution",
                       "p-value");
    for (const analysis::TestRow &row : r.tests) {
      if (analysis::in_unbalanced_block(row.kind) != unbalanced) continue;
      const std::string title = test_title(row, r.options.order);
      if (!row.unavailable.empty()) {
        out += fmt::format("  {:<20} not available: {}\n", title, row.unavailable);
        continue;
      }
      // Only LM's p-value can come from either side: the star marks the one
      // the tool computed because the module returned it missing.
      const bool marked =
          row.kind == analysis::TestKind::lm && row.source == analysis::PValueSource::tool;
      tool_pvalue = tool_pvalue || marked;
      out += fmt::format("  {:<20} {:>12}  {:<18} {:>12}{}\n", title, statistic(row.statistic),
                         row.distribution, format_pvalue(row.pvalue), marked ? " *" : "");
    }
  };
  table(false);
  out += fmt::format("\n  average correlation {}, average absolute correlation {} over {} pairs\n",
                     statistic(r.mean_correlation), statistic(r.mean_abs_correlation),
                     s.usable_pairs);
  out += fmt::format("  weighted CD (Juodis and Reese 2022): residuals multiplied by random signs, "
                     "seed {}{}\n",
                     r.options.seed,
                     r.options.cdw_draws == 1 ? ""
                                              : fmt::format(", {} draws", r.options.cdw_draws));
  out += "  weighted CD+: plus the |correlations| above 2 sqrt(ln N / T_ij) (power enhancement)\n";
  out += "  bias-adjusted LM (Pesaran, Ullah and Yamagata 2008): exact mean and variance of\n"
         "    (T - k) rho^2 under independent normal errors, for balanced unrestricted models\n";
  out += fmt::format("  CD*({}) (Pesaran and Xie 2021): dependence left once the {} strongest common\n"
                     "    factors (principal components) are taken out\n",
                     r.factors, r.factors);
  if (r.unbalanced.present) {
    out += fmt::format("\n  Pesaran's definitions for unbalanced panels (as R's plm): each pair's "
                       "residuals\n  centred over its common periods; {} pairs with a correlation, "
                       "{} without\n",
                       r.unbalanced.pairs, r.unbalanced.omitted_pairs);
    table(true);
    out += fmt::format("  average correlation {}, average absolute correlation {}\n",
                       statistic(r.unbalanced.mean_correlation),
                       statistic(r.unbalanced.mean_abs_correlation));
  }
  if (tool_pvalue)
    out += "  * p-value computed by qvdep (upper chi-square tail): the module returned it missing\n";
  if (r.module.near_perfect_fit)
    out += "  note: near-perfect fit: a cross-section's residual sum of squares is below 1e-5\n";
  for (const auto &w : r.warnings) out += "  warning: " + w + "\n";
  return out;
}

}  // namespace qvd::report
