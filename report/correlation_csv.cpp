#include "report/correlation_csv.h"

#include <charconv>
#include <cmath>
#include <ostream>


namespace qvd::report {

std::string csv_field(const std::string &text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char ch : text) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
  quoted += '"';
  return quoted;
}

void write_correlation_csv(const analysis::Result &result, std::ostream &out) {
  const std::size_t n = result.section_labels.size();
  // Every value takes at most 25 characters with its comma
  // (",-1.2345678901234567e-308"). The text is formed in a buffer of about
  // a megabyte, one std::to_chars per value (the shortest digits that read
  // back as the same double), and handed on whenever it fills.
  constexpr std::size_t kWidestValue = 25, kBlock = std::size_t{1} << 20;
  std::string text;
  text.reserve(kBlock + 2 * kWidestValue);
  auto flush = [&] {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    text.clear();
  };
  for (const auto &label : result.section_labels) {
    text.append(",").append(csv_field(label));
    if (text.size() >= kBlock) flush();
  }
  text += "\n";
  char cell[kWidestValue + 1];
  for (std::size_t i = 0; i < n; ++i) {
    text += csv_field(result.section_labels[i]);
    for (std::size_t j = 0; j < n; ++j) {
      const double rho = analysis::correlation_of(result, i, j);
      cell[0] = ',';
      char *end = cell + 1;
      if (!std::isnan(rho)) end = std::to_chars(cell + 1, cell + sizeof cell, rho).ptr;
      text.append(cell, static_cast<std::size_t>(end - cell));
      if (text.size() >= kBlock) flush();
    }
    text += "\n";
  }
  flush();
}

}  // namespace qvd::report
