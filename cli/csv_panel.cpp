#include "cli/csv_panel.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <sstream>
#include <stdexcept>

#include "prob/missing_value.h"

namespace qvd::cli {
namespace {

std::string trim(const std::string &s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// Splits one line on commas; double quotes protect commas and "" is a quote.
std::vector<std::string> split_line(const std::string &line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char ch = line[i];
    if (quoted && ch == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      fields.back() += '"';
      ++i;
    } else if (ch == '"') {
      quoted = !quoted;
    } else if (ch == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back() += ch;
    }
  }
  for (auto &f : fields) f = trim(f);
  return fields;
}

std::string format_period(double period) {
  std::ostringstream text;
  text << period;
  return text.str();
}

std::runtime_error error_at(long line, const std::string &what) {
  return std::runtime_error("line " + std::to_string(line) + ": " + what);
}

double parse_number(const std::string &text, long line, bool allow_missing) {
  if (allow_missing && (text.empty() || text == "NA" || text == ".")) return MISSING_RESULT;
  double value = 0;
  const char *end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end)
    throw error_at(line, "not a number: \"" + text + "\"");
  return value;
}

std::size_t column_index(const std::vector<std::string> &header, const std::string &name) {
  const auto it = std::find(header.begin(), header.end(), name);
  if (it == header.end()) throw std::runtime_error("no column named \"" + name + "\"");
  return static_cast<std::size_t>(it - header.begin());
}

struct Layout {
  std::size_t section, period, dependent;
  std::vector<std::size_t> regressors;
};

Layout resolve(const std::vector<std::string> &header, const PanelColumns &c) {
  if (header.size() < 3)
    throw std::runtime_error("need at least three columns: section, period, dependent");
  Layout l;
  l.section = c.section.empty() ? 0 : column_index(header, c.section);
  l.period = c.period.empty() ? 1 : column_index(header, c.period);
  l.dependent = c.dependent.empty() ? 2 : column_index(header, c.dependent);
  if (!c.regressors.empty()) {
    for (const auto &name : c.regressors) l.regressors.push_back(column_index(header, name));
  } else {
    for (std::size_t i = 0; i < header.size(); ++i)
      if (i != l.section && i != l.period && i != l.dependent) l.regressors.push_back(i);
  }
  return l;
}

struct Row {
  std::string section;
  double period;
  std::vector<double> values;  // regressors, then the dependent value
};

}  // namespace

CsvPanel read_csv_panel(std::istream &in, const PanelColumns &columns) {
  std::string text;
  long line_number = 0;
  std::vector<std::string> header;
  while (header.empty() && std::getline(in, text)) {
    ++line_number;
    if (!trim(text).empty()) header = split_line(text);
  }
  if (header.empty()) throw std::runtime_error("the file is empty");
  const Layout layout = resolve(header, columns);

  std::vector<Row> rows;
  std::map<std::string, int> section_of;
  CsvPanel out;
  while (std::getline(in, text)) {
    ++line_number;
    if (trim(text).empty()) continue;
    const auto fields = split_line(text);
    if (fields.size() != header.size())
      throw error_at(line_number, "expected " + std::to_string(header.size()) + " fields");
    Row row{fields[layout.section], parse_number(fields[layout.period], line_number, false), {}};
    for (std::size_t column : layout.regressors)
      row.values.push_back(parse_number(fields[column], line_number, true));
    row.values.push_back(parse_number(fields[layout.dependent], line_number, true));
    if (section_of.emplace(row.section, static_cast<int>(out.section_labels.size())).second)
      out.section_labels.push_back(row.section);
    out.periods.push_back(row.period);
    rows.push_back(std::move(row));
  }
  std::sort(out.periods.begin(), out.periods.end());
  out.periods.erase(std::unique(out.periods.begin(), out.periods.end()), out.periods.end());

  const std::size_t n = out.section_labels.size(), t = out.periods.size();
  const std::size_t width = layout.regressors.size() + 1;
  out.panel.sections = static_cast<int>(n);
  out.panel.periods = static_cast<int>(t);
  out.panel.regressors = static_cast<int>(layout.regressors.size());
  out.panel.values.assign(n * t * width, MISSING_RESULT);
  std::vector<bool> seen(n * t, false);
  for (const Row &row : rows) {
    const std::size_t i = static_cast<std::size_t>(section_of[row.section]);
    const std::size_t p = static_cast<std::size_t>(
        std::lower_bound(out.periods.begin(), out.periods.end(), row.period) - out.periods.begin());
    if (seen[i * t + p])
      throw std::runtime_error("cross-section \"" + row.section + "\" has period " +
                               format_period(row.period) + " twice");
    seen[i * t + p] = true;
    std::copy(row.values.begin(), row.values.end(), out.panel.values.begin() + (i * t + p) * width);
  }
  out.dependent = header[layout.dependent];
  for (std::size_t column : layout.regressors) out.regressors.push_back(header[column]);
  out.observations = static_cast<long>(rows.size());
  return out;
}

}  // namespace qvd::cli
