#include "report/report.h"

#include <algorithm>
#include <cmath>
#include <string_view>

#include <fmt/format.h>

#include "analysis/result/test_kinds.h"
#include "report/model_text.h"

namespace qvd::report {
namespace {

// The row's title in the report, from the catalogue of test kinds.
std::string title_of(const analysis::TestRow &row, const analysis::Result &r) {
  return analysis::filled(analysis::test_kind(row.kind).title, analysis::pattern_values(r, row.kind));
}

std::string statistic(double x) {
  return std::isnan(x) ? std::string("NA") : fmt::format("{:.6f}", x);
}

// Columns of text: UTF-8 continuation bytes take none.
std::size_t columns_of(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char ch) {
    return (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
  }));
}

// A line broken at spaces into lines of at most kLineWidth columns (a word
// longer than that stands alone), each after the first indented.
constexpr std::size_t kLineWidth = 80;

std::string wrapped(const std::string &line, const std::string &indent) {
  std::string out;
  std::string_view rest = line;
  std::string_view lead;  // the first line leads with its own indent
  while (columns_of(lead) + columns_of(rest) > kLineWidth) {
    std::size_t cut = std::string_view::npos;
    for (std::size_t at = rest.find(' ', 1); at != std::string_view::npos;
         at = rest.find(' ', at + 1)) {
      if (columns_of(lead) + columns_of(rest.substr(0, at)) > kLineWidth) break;
      cut = at;
    }
    if (cut == std::string_view::npos) cut = rest.find(' ', 1);
    if (cut == std::string_view::npos) break;
    out.append(lead).append(rest.substr(0, cut)).append("\n");
    rest = rest.substr(cut + 1);
    lead = indent;
  }
  out.append(lead).append(rest).append("\n");
  return out;
}

// Column widths of the test tables: each at least its heading's and as
// wide as its widest entry over both blocks, so that the columns line up
// whatever the size of a statistic.
struct Columns {
  std::size_t title = 20, statistic = 12, distribution = 18, pvalue = 12;
};

Columns columns_for(const analysis::Result &r) {
  Columns c;
  for (const analysis::TestRow &row : r.tests) {
    c.title = std::max(c.title, title_of(row, r).size());
    if (!row.unavailable.empty()) continue;
    c.statistic = std::max(c.statistic, statistic(row.statistic).size());
    c.distribution = std::max(c.distribution, row.distribution.size());
    c.pvalue = std::max(c.pvalue, format_pvalue(row.pvalue).size());
  }
  return c;
}

void add_table(std::string &out, const analysis::Result &r, const Columns &c, bool unbalanced) {
  out += fmt::format("  {:<{}} {:>{}}  {:<{}} {:>{}}\n", "test", c.title, "statistic", c.statistic,
                     "distribution", c.distribution, "p-value", c.pvalue);
  for (const analysis::TestRow &row : r.tests) {
    if (analysis::in_unbalanced_block(row.kind) != unbalanced) continue;
    const std::string title = title_of(row, r);
    if (!row.unavailable.empty()) {
      out += wrapped(fmt::format("  {:<{}} not available: {}", title, c.title, row.unavailable),
                     std::string(c.title + 3, ' '));
      continue;
    }
    out += fmt::format("  {:<{}} {:>{}}  {:<{}} {:>{}}\n", title, c.title, statistic(row.statistic),
                       c.statistic, row.distribution, c.distribution, format_pvalue(row.pvalue),
                       c.pvalue);
    if (!row.note.empty()) out += wrapped("    " + row.note, "    ");
  }
}

bool has_row(const analysis::Result &r, analysis::TestKind kind) {
  return std::any_of(r.tests.begin(), r.tests.end(),
                     [kind](const analysis::TestRow &row) { return row.kind == kind; });
}

// The notes under a panel model's table that plm's own print would not
// give: LM_BC's definition, and which tails the one-sided tests take.
void add_plm_notes(std::string &out, const analysis::Result &r) {
  using analysis::TestKind;
  if (has_row(r, TestKind::bias_corrected_scaled_lm))
    out += "  bias-corrected scaled LM (Baltagi, Feng and Kao 2012): the scaled LM less\n"
           "    N / (2(T - 1)), the bias that fixed effects by cross-section leave in it\n";
  std::vector<std::string> one_sided = {"scaled LM"};
  if (has_row(r, TestKind::bias_corrected_scaled_lm)) one_sided.emplace_back("LM_BC");
  if (has_row(r, TestKind::local_scaled_lm)) one_sided.emplace_back("local scaled LM");
  std::string names;
  for (std::size_t k = 0; k < one_sided.size(); ++k)
    names += (k == 0 ? "" : k + 1 == one_sided.size() ? " and " : ", ") + one_sided[k];
  out += wrapped("  p-value" + std::string(one_sided.size() > 1 ? "s" : "") + " of the " + names +
                     ": the upper tail, the test" + (one_sided.size() > 1 ? "s" : "") +
                     " being one-sided (plm prints the two-sided p-value)",
                 "    ");
}

// The rank tests' definitions and Frees' critical values under the table.
void add_rank_notes(std::string &out, const analysis::Result &r) {
  const analysis::RankTestsSummary &k = r.rank_tests;
  if (!k.present) return;
  out += "  FR (Friedman 1937) and FRE (Frees 1995): Spearman correlations of the residuals\n"
         "    ranked over the periods; FR = (T - 1)((N - 1) mean r + 1), FRE = N(mean r^2 -\n"
         "    1/(T - 1)), the latter on Frees' Q law (exact), no normality assumed\n";
  if (!std::isnan(k.frees_critical_5))
    out += fmt::format("    critical values of Q({}): {:.4f} (10 %), {:.4f} (5 %), {:.4f} (1 %)\n",
                       k.periods_used, k.frees_critical_10, k.frees_critical_5,
                       k.frees_critical_1);
}

// How strong the dependence is: the exponents of the residuals and of a
// variable, and how to read them.
void add_strength(std::string &out, const analysis::Result &r) {
  const analysis::ResidualExponentSummary &e = r.strength.residuals;
  const analysis::VariableExponentSummary &v = r.strength.variable;
  out += "\n  Strength of dependence\n";
  const std::string residuals =
      "    alpha of the residuals (Bailey, Kapetanios and Pesaran 2019): ";
  if (!e.available) {
    out += wrapped(residuals + "not available: " + e.reason, "      ");
  } else {
    out += fmt::format("{}{}\n", residuals, statistic(e.alpha));
    out += wrapped(fmt::format("      {} of {} pairs' |correlation| above {:.4f} (size {:g}, "
                               "tuning {:g})",
                               e.nonzero_pairs, e.pairs, e.threshold, r.options.exponent_size,
                               r.options.exponent_tuning),
                   "      ");
    if (e.draws > 0)
      out += wrapped(fmt::format("      95 % bootstrap interval [{}, {}], standard error {}; {} "
                                 "draws of cross-sections, seed {}",
                                 statistic(e.lower_95), statistic(e.upper_95),
                                 statistic(e.standard_error), e.draws, e.seed),
                     "      ");
  }
  if (v.present) {
    const std::string variable = fmt::format(
        "    alpha of {} (Bailey, Kapetanios and Pesaran 2016): ", v.variable);
    if (!v.available)
      out += wrapped(variable + "not available: " + v.reason, "      ");
    else if (std::isnan(v.standard_error))
      out += wrapped(variable + statistic(v.alpha) + ", no standard error: " +
                         v.standard_error_reason,
                     "      ");
    else
      out += fmt::format("{}{} (standard error {})\n", variable, statistic(v.alpha),
                         statistic(v.standard_error));
  }
  out += "    alpha <= 1/2: weak dependence (CD's null); near 1: strong, as from a common factor\n";
}

}  // namespace

std::string format_pvalue(double p) {
  if (std::isnan(p)) return "NA";
  if (p < kSmallestPrintedPvalue) return fmt::format("< {:g}", kSmallestPrintedPvalue);
  return fmt::format("{:.6g}", p);
}

std::string pvalue_phrase(double p) {
  const std::string printed = format_pvalue(p);
  return printed[0] == '<' ? "p " + printed : "p = " + printed;
}

std::string report_text(const std::string &source, const analysis::Result &r) {
  const analysis::PanelShape &s = r.shape;
  const bool unit = r.options.model == analysis::Model::unit;
  std::string out = report_heading(r) + "\n\n";
  out += fmt::format("  data:          {}\n", source);
  for (const auto &[label, text] : model_lines(r)) {
    const std::string line = fmt::format("  {:<15}{}", label + ":", text);
    out += unit ? line + "\n" : wrapped(line, std::string(17, ' '));
  }
  for (const auto &text : r.options.restrictions) out += fmt::format("  restriction:   {}\n", text);
  out += fmt::format("  panel:         {} cross-sections ({}), {} periods ({}), {} regressor{}\n",
                     s.sections, r.id_name, s.periods, r.time_name, s.regressors,
                     s.regressors == 1 ? "" : "s");
  out += fmt::format("  observations:  {} complete of {} cells ({} rows read)\n",
                     s.complete_observations, static_cast<long>(s.sections) * s.periods, s.rows);
  out += fmt::format("  pairs:         {} usable, {} could not be correlated\n", s.usable_pairs,
                     s.unusable_pairs);
  if (r.options.neighbours)
    out += wrapped(fmt::format("  neighbours:    {}: the local rows (w) are over its pairs",
                               r.options.neighbours_name.empty() ? std::string("a proximity matrix")
                                                                 : r.options.neighbours_name),
                   std::string(17, ' '));
  out += "\n";

  const Columns columns = columns_for(r);
  // Beside Pesaran's unbalanced block each block says which definitions
  // it follows: the two differ exactly where residuals are missing.
  if (r.unbalanced.present)
    out += fmt::format(
        "  Definitions of the module, for balanced panels: each pair's residuals\n"
        "  uncentred over its common periods; all N(N - 1)/2 = {} pairs in the scaling\n",
        static_cast<long long>(r.lm_degrees_of_freedom));
  // A panel model's rows are plm's, on correlations that differ from the
  // module's: the block says so.
  if (!unit)
    out += fmt::format(
        "  Definitions of R's plm (pcdtest): each pair's residuals centred over its common\n"
        "  periods; M = {} pairs with a correlation (at least two common periods), {} without\n",
        s.usable_pairs, s.unusable_pairs);
  add_table(out, r, columns, false);
  out += fmt::format("\n  average correlation {}, average absolute correlation {} over {} pairs\n",
                     statistic(r.mean_correlation), statistic(r.mean_abs_correlation),
                     s.usable_pairs);
  out += fmt::format("  weighted CD (Juodis and Reese 2022): residuals multiplied by random signs, "
                     "seed {}{}\n",
                     r.options.seed,
                     r.options.cdw_draws == 1 ? ""
                                              : fmt::format(", {} draws", r.options.cdw_draws));
  out += "  weighted CD+: plus the |correlations| above 2 sqrt(ln N / T_ij) (power enhancement)\n";
  if (unit)
    out += "  bias-adjusted LM (Pesaran, Ullah and Yamagata 2008): exact mean and variance of\n"
           "    (T - k) rho^2 under independent normal errors, for balanced unrestricted models\n";
  out += fmt::format("  CD*({}) (Pesaran and Xie 2021): dependence left once the {} strongest common\n"
                     "    factors (principal components) are taken out\n",
                     r.factors, r.factors);
  add_rank_notes(out, r);
  if (!unit) add_plm_notes(out, r);
  if (r.unbalanced.present) {
    out += fmt::format("\n  Pesaran's definitions for unbalanced panels (as R's plm): each pair's "
                       "residuals\n  centred over its common periods; M = {} pairs with a "
                       "correlation, {} without\n",
                       r.unbalanced.pairs, r.unbalanced.omitted_pairs);
    add_table(out, r, columns, true);
    out += fmt::format("  average correlation {}, average absolute correlation {}\n",
                       statistic(r.unbalanced.mean_correlation),
                       statistic(r.unbalanced.mean_abs_correlation));
    out += "  scaled LM: the upper tail, as Pesaran's test (plm prints the two-sided p-value)\n";
  }
  add_strength(out, r);
  if (r.module_ran && r.module.near_perfect_fit)
    out += "  note: near-perfect fit: a cross-section's residual sum of squares is below 1e-5\n";
  for (const auto &w : r.warnings) out += wrapped("  warning: " + w, "    ");
  return out;
}

}  // namespace qvd::report
