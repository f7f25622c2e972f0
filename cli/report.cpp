#include "cli/report.h"

#include <cmath>

#include <fmt/format.h>

namespace qvd::cli {
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

const char *test_title(const analysis::TestRow &row, std::size_t index) {
  static const char *const kTitles[] = {"Breusch-Pagan LM", "Pesaran scaled LM", "Pesaran CD",
                                        "local CD", "weighted CD"};
  (void)row;
  return index < 5 ? kTitles[index] : "";
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

  out += fmt::format("  {:<20} {:>12}  {:<18} {:>12}\n", "test", "statistic", "distribution",
                     "p-value");
  bool tool_pvalue = false;
  for (std::size_t i = 0; i < r.tests.size(); ++i) {
    const analysis::TestRow &row = r.tests[i];
    std::string title = test_title(row, i);
    if (i == 3) title += fmt::format("({})", r.options.order);
    const bool marked = row.source == analysis::PValueSource::tool && i == 0;
    tool_pvalue = tool_pvalue || marked;
    out += fmt::format("  {:<20} {:>12}  {:<18} {:>12}{}\n", title, statistic(row.statistic),
                       row.distribution, format_pvalue(row.pvalue), marked ? " *" : "");
  }
  out += fmt::format("\n  average correlation {}, average absolute correlation {} over {} pairs\n",
                     statistic(r.mean_correlation), statistic(r.mean_abs_correlation),
                     s.usable_pairs);
  out += fmt::format("  weighted CD (Juodis and Reese 2022): residuals multiplied by random signs, "
                     "seed {}\n",
                     r.options.seed);
  if (tool_pvalue)
    out += "  * p-value computed by qvdep (upper chi-square tail): the module returned it missing\n";
  if (r.module.near_perfect_fit)
    out += "  note: near-perfect fit: a cross-section's residual sum of squares is below 1e-5\n";
  for (const auto &w : r.warnings) out += "  warning: " + w + "\n";
  return out;
}

}  // namespace qvd::cli
