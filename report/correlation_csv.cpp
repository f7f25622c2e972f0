#include "report/correlation_csv.h"

#include <cmath>

#include <fmt/format.h>

namespace qvd::report {

std::string csv_field(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char ch : text) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
  quoted += '"';
  return quoted;
}

std::string correlation_csv(const analysis::Result &result) {
  const std::size_t n = result.section_labels.size();
  std::string out;
  for (const auto &label : result.section_labels) out.append(",").append(csv_field(label));
  out += "\n";
  for (std::size_t i = 0; i < n; ++i) {
    out += csv_field(result.section_labels[i]);
    for (std::size_t j = 0; j < n; ++j) {
      const double rho = result.correlations[i * n + j];
      out += std::isnan(rho) ? std::string(",") : fmt::format(",{:.17g}", rho);
    }
    out += "\n";
  }
  return out;
}

}  // namespace qvd::report
