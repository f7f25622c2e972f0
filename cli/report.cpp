#include "cli/report.h"

#include <cstdio>

#include "prob/missing_value.h"

namespace qvd::cli {
namespace {

std::string format(const char *pattern, double value) {
  if (is_missing(value)) return "missing";
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, pattern, value);
  return buffer;
}

void line(std::ostream &out, const std::string &name, double statistic, const std::string &df,
          double pvalue) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "  %-20s %12s  %-10s p-value %s\n", name.c_str(),
                format("%.5g", statistic).c_str(), df.c_str(), format("%.4g", pvalue).c_str());
  out << buffer;
}

std::string join(const std::vector<std::string> &names) {
  std::string text;
  for (const auto &n : names) text += (text.empty() ? "" : ", ") + n;
  return text.empty() ? "(none)" : text;
}

}  // namespace

void print_report(std::ostream &out, const std::string &source, const CsvPanel &data,
                  const host::TestOptions &options, const host::TestResults &results) {
  const long n = data.panel.sections;
  out << "Cross-sectional dependence of the residuals of per-cross-section regressions\n"
      << "  data:        " << source << "\n"
      << "  panel:       " << n << " cross-sections, " << data.panel.periods << " periods, "
      << data.observations << " rows\n"
      << "  model:       " << data.dependent << " on " << join(data.regressors)
      << (options.intercept ? ", with intercept" : ", without intercept") << "\n";
  if (results.near_perfect_fit)
    out << "  note:        a cross-section is fitted almost perfectly (residual sum of squares "
           "below 1e-5)\n";
  out << "\n";
  line(out, "Breusch-Pagan LM", results.lm, "df " + std::to_string(n * (n - 1) / 2),
       results.lm_pvalue);
  line(out, "Pesaran scaled LM", results.scaled_lm, "", results.scaled_lm_pvalue);
  line(out, "Pesaran CD", results.cd, "", results.cd_pvalue);
  line(out, "CD(" + std::to_string(options.cdp_order) + ")", results.cdp, "", results.cdp_pvalue);
}

}  // namespace qvd::cli
