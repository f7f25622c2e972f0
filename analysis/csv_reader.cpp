#include "analysis/csv_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <string_view>

#include "analysis/errors.h"

namespace qvd::analysis {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

struct Record {
  long line = 0;  // line on which the record starts
  std::vector<std::string> fields;
};

std::string trim(const std::string &s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Appends text[i..] up to the next of the `stops` (a field holds long runs
// of ordinary bytes; one append per run keeps a million rows cheap) and
// returns the index of the run's last byte.
std::size_t append_run(const std::string &text, std::size_t i, std::string_view stops,
                       std::string &field) {
  const std::size_t stop = std::min(text.find_first_of(stops, i), text.size());
  field.append(text, i, stop - i);
  return stop - 1;
}

// Splits the text into records. A quoted field may hold commas, line breaks
// and "" for a quote; a line break is LF, CRLF or a lone CR (as old
// spreadsheets on the Mac write it), so a CR never ends up in a field.
std::vector<Record> split_records(const std::string &text, const std::string &source) {
  std::vector<Record> records;
  Record record{1, {std::string()}};
  long line = 1;
  bool quoted = false, was_quoted = false;
  auto end_record = [&] {
    const bool blank = record.fields.size() == 1 && record.fields[0].empty() && !was_quoted;
    const std::size_t width = record.fields.size();
    if (!blank) records.push_back(std::move(record));
    // The next record most likely has as many fields: one allocation.
    record = Record{line, {}};
    record.fields.reserve(width);
    record.fields.emplace_back();
    was_quoted = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (quoted) {
      if (ch == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        record.fields.back() += '"';
        ++i;
      } else if (ch == '"') {
        quoted = false;
      } else if (ch == '\n') {
        ++line;
        record.fields.back() += ch;
      } else {
        i = append_run(text, i, "\"\n", record.fields.back());
      }
    } else if (ch == '"') {
      quoted = was_quoted = true;
    } else if (ch == ',') {
      record.fields.emplace_back();
    } else if (ch == '\n' || ch == '\r') {
      if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      ++line;
      end_record();
    } else {
      i = append_run(text, i, "\",\r\n", record.fields.back());
    }
  }
  if (quoted)
    throw InputError(source + ":" + std::to_string(record.line) +
                     ": a quoted field is not closed before the end of the file");
  end_record();
  return records;
}

std::size_t column_of(const std::vector<std::string> &header, const std::string &name,
                      const std::string &source, const char *role) {
  const auto it = std::find(header.begin(), header.end(), name);
  if (it != header.end()) return static_cast<std::size_t>(it - header.begin());
  std::string known;
  for (const auto &h : header) {
    known += (known.empty() ? "" : ", ") + h;
    if (known.size() > kExcerptLength) break;  // the excerpt shows no more
  }
  throw InputError(source + ":1: no column named \"" + excerpt(name) + "\" for the " + role +
                   " (columns: " + excerpt(known) + ")");
}

// Column indices: id, time, dependent, then the regressors.
std::vector<std::size_t> resolve(const std::vector<std::string> &header,
                                 const ColumnSelection &c, const std::string &source) {
  auto pick = [&](const std::string &name, std::size_t fallback, const char *role) {
    if (!name.empty()) return column_of(header, name, source, role);
    if (fallback >= header.size())
      throw InputError(source + ":1: the header has no column " +
                       std::to_string(fallback + 1) + " for the " + role);
    return fallback;
  };
  std::vector<std::size_t> columns{pick(c.id, 0, "cross-section id"),
                                   pick(c.time, 1, "period"),
                                   pick(c.dependent, 2, "dependent variable")};
  if (c.regressors) {
    for (const auto &name : *c.regressors)
      columns.push_back(column_of(header, name, source, "regressors"));
  } else {
    for (std::size_t i = 0; i < header.size(); ++i)
      if (std::find(columns.begin(), columns.begin() + 3, i) == columns.begin() + 3)
        columns.push_back(i);
  }
  return columns;
}

double parse_value(const std::string &raw, const std::string &where, const std::string &name) {
  const std::string text = trim(raw);
  if (text.empty() || text == "NA" || text == ".") return std::numeric_limits<double>::quiet_NaN();
  // from_chars takes no leading '+'; one is skipped, but not before a sign.
  const std::size_t skip = text[0] == '+' && text.size() > 1 && text[1] != '-' ? 1 : 0;
  double value = 0;
  const char *end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data() + skip, end, value);
  if (ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range))
    throw InputError(where + ": column \"" + excerpt(name) + "\": not a number: \"" + excerpt(text) + "\"");
  // from_chars reports underflow and overflow alike; a number too small
  // for a double rounds to zero (or a subnormal), as any reader rounds it,
  // and only one too large is refused. strtod tells them apart and rounds;
  // its end must agree with from_chars' (a locale with a decimal comma
  // would stop early and the number stays refused).
  if (ec == std::errc::result_out_of_range) {
    char *stop = nullptr;
    const double rounded = std::strtod(text.c_str() + skip, &stop);
    if (stop == end && std::isfinite(rounded)) return rounded;
  }
  if (ec == std::errc::result_out_of_range || !std::isfinite(value))
    throw InputError(where + ": column \"" + excerpt(name) + "\": not a finite number: \"" + excerpt(text) + "\"");
  return value;
}

}  // namespace

LongPanel read_csv(std::istream &in, const std::string &source, const ColumnSelection &c) {
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) throw InputError(source + ": cannot be read");
  // Spreadsheets often start a UTF-8 file with a byte-order mark; it is not
  // part of the first column's name.
  if (text.starts_with(kUtf8ByteOrderMark)) text.erase(0, kUtf8ByteOrderMark.size());
  std::vector<Record> records = split_records(text, source);
  if (records.empty()) throw InputError(source + ": the file is empty");
  std::vector<std::string> header;
  for (const auto &h : records[0].fields) header.push_back(trim(h));
  const std::vector<std::size_t> columns = resolve(header, c, source);
  if (records.size() == 1) throw InputError(source + ": the file has a header but no data rows");

  LongPanel data;
  data.source = source;
  data.id_name = header[columns[0]];
  data.time_name = header[columns[1]];
  data.dependent_name = header[columns[2]];
  for (std::size_t v = 3; v < columns.size(); ++v) data.regressor_names.push_back(header[columns[v]]);
  data.regressors.resize(columns.size() - 3);
  for (std::size_t column : columns) data.source_columns.push_back(static_cast<int>(column + 1));

  for (std::size_t r = 1; r < records.size(); ++r) {
    const Record &record = records[r];
    const std::string at = source + ":" + std::to_string(record.line);
    if (record.fields.size() != header.size())
      throw InputError(at + ": " + std::to_string(record.fields.size()) +
                       " fields where the header has " + std::to_string(header.size()));
    auto where = [&](std::size_t v) { return at + ":" + std::to_string(columns[v] + 1); };
    data.lines.push_back(record.line);
    data.ids.push_back(trim(record.fields[columns[0]]));
    data.times.push_back(trim(record.fields[columns[1]]));
    if (data.times.back().empty() || data.ids.back().empty())
      throw InputError(where(data.ids.back().empty() ? 0 : 1) + ": column \"" +
                       excerpt(header[columns[data.ids.back().empty() ? 0 : 1]]) + "\": empty");
    data.dependent.push_back(parse_value(record.fields[columns[2]], where(2), data.dependent_name));
    for (std::size_t v = 3; v < columns.size(); ++v)
      data.regressors[v - 3].push_back(
          parse_value(record.fields[columns[v]], where(v), header[columns[v]]));
  }
  return data;
}

LongPanel read_csv_file(const std::string &path, const ColumnSelection &columns) {
  if (path == "-") return read_csv(std::cin, "<stdin>", columns);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path + ": cannot be opened");
  return read_csv(in, path, columns);
}

}  // namespace qvd::analysis
