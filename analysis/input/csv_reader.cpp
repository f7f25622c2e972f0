#include "analysis/input/csv_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <limits>
#include <memory>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "analysis/common/errors.h"
#include "analysis/common/task_group.h"
#include "analysis/input/csv_records.h"

namespace qvd::analysis {
namespace {

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

// Bytes the record spans in the text, roughly (its fields and separators).
std::size_t record_length(const Record &record, std::string_view) {
  std::size_t bytes = record.fields.size();
  for (std::string_view f : record.fields) bytes += f.size();
  return bytes;
}

// The distinct labels of a column, each held once, and the code of each
// row's label. The map's keys view the text itself when the label lies in
// it (the text outlives the reading), else a copy kept here (a quoted
// field, unescaped into the record's buffer): never the label column,
// whose strings move as it grows. Rows of a panel come grouped by
// cross-section, so the previous row's label is tried first.
class Interner {
 public:
  Interner(std::string_view text, std::vector<std::string> &labels)
      : text_(text), labels_(labels) {}

  template <typename Where>
  std::uint32_t code(std::string_view label, const Where &where) {
    if (!labels_.empty() && label == last_) return last_code_;
    auto it = code_of_.find(label);
    if (it == code_of_.end()) {
      if (labels_.size() == UINT32_MAX) throw InputError(where() + ": too many distinct labels");
      const std::less<const char *> before;
      const bool in_text = !before(label.data(), text_.data()) &&
                           !before(text_.data() + text_.size(), label.data() + label.size());
      const std::string_view key = in_text ? label : std::string_view(own_.emplace_back(label));
      it = code_of_.emplace(key, static_cast<std::uint32_t>(labels_.size())).first;
      labels_.emplace_back(label);
      keys_.push_back(key);
    }
    last_ = it->first;
    last_code_ = it->second;
    return last_code_;
  }

  // The label of a code, viewing the text or this interner's own copy.
  std::string_view key(std::uint32_t code) const { return keys_[code]; }

 private:
  std::string_view text_;
  std::vector<std::string> &labels_;
  std::unordered_map<std::string_view, std::uint32_t> code_of_;
  std::vector<std::string_view> keys_;  // the label of each code
  std::deque<std::string> own_;
  std::string_view last_;
  std::uint32_t last_code_ = 0;
};

void reserve_rows(LongPanel &data, std::size_t rows) {
  data.lines.reserve(rows);
  data.id_of_row.reserve(rows);
  data.time_of_row.reserve(rows);
  data.dependent.reserve(rows);
  for (auto &column : data.regressors) column.reserve(rows);
}

// The columns a file's rows are read from, as its header names them.
struct Columns {
  std::vector<std::string> header;
  std::vector<std::size_t> index;  // id, time, dependent, then the regressors
};

// The rows a splitter has left into `data`'s columns, the labels interned
// by `ids` and `times`; `text` holds them, and sizes the columns. Throws
// InputError at the first row that cannot be read.
void read_rows(RecordSplitter &records, std::string_view text, const std::string &source,
               const Columns &c, Interner &ids, Interner &times, LongPanel &data) {
  const std::vector<std::string> &header = c.header;
  const std::vector<std::size_t> &columns = c.index;
  Record record;
  // "FILE:LINE" and "FILE:LINE:COLUMN" of variable v, formed only for a message.
  auto at = [&] { return source + ":" + std::to_string(record.line); };
  auto where = [&](std::size_t v) { return at() + ":" + std::to_string(columns[v] + 1); };
  auto value = [&](std::size_t v) {
    const std::string_view raw = record.fields[columns[v]];
    bool too_large = false;
    const std::optional<double> parsed = parse_value(raw, too_large);
    if (!parsed)
      throw InputError(where(v) + ": column \"" + excerpt(header[columns[v]]) + "\": " +
                       (too_large ? "not a finite number" : "not a number") + ": \"" +
                       excerpt(trim(raw)) + "\"");
    return *parsed;
  };
  bool reserved = false;
  while (records.next(record)) {
    if (!reserved) {
      // Rows of a panel are alike: the first one's length tells how many
      // follow, within a few per cent.
      reserve_rows(data, data.rows() + text.size() / (1 + record_length(record, text)) + 16);
      reserved = true;
    }
    if (record.fields.size() != header.size())
      throw InputError(at() + ": " + std::to_string(record.fields.size()) +
                       " fields where the header has " + std::to_string(header.size()));
    const std::string_view id = trim(record.fields[columns[0]]);
    const std::string_view time = trim(record.fields[columns[1]]);
    if (id.empty() || time.empty())
      throw InputError(where(id.empty() ? 0 : 1) + ": column \"" +
                       excerpt(header[columns[id.empty() ? 0 : 1]]) + "\": empty");
    data.lines.push_back(record.line);
    data.id_of_row.push_back(ids.code(id, at));
    data.time_of_row.push_back(times.code(time, at));
    data.dependent.push_back(value(2));
    for (std::size_t v = 3; v < columns.size(); ++v) data.regressors[v - 3].push_back(value(v));
  }
}

// Where the rows from `start` on may be cut into `pieces` parts read at
// once: the parts' first bytes and then the text's end, or nothing when
// they cannot be. A cut follows a line break (never between the CR and LF
// of one). Without a quote in the rows every line break ends a record;
// with one, a line break may sit inside a quoted field, and the rows are
// read in one part.
std::vector<std::size_t> cuts(std::string_view text, std::size_t start, std::size_t pieces) {
  const std::size_t size = text.size();
  if (pieces < 2 || start >= size || std::memchr(text.data() + start, '"', size - start) != nullptr)
    return {};
  std::vector<std::size_t> at{start};
  for (std::size_t p = 1; p < pieces; ++p) {
    std::size_t cut = std::max(at.back(), start + (size - start) / pieces * p);
    while (cut < size && text[cut] != '\n' && text[cut] != '\r') ++cut;
    if (cut < size && text[cut] == '\r') ++cut;
    if (cut < size && text[cut] == '\n') ++cut;
    if (cut >= size) break;
    if (cut > at.back()) at.push_back(cut);
  }
  if (at.size() < 2) return {};
  at.push_back(size);
  return at;
}

// A part of the rows read on a thread of its own, lines counted from 1.
struct Part {
  LongPanel rows;
  Interner ids, times;
  long lines = 0;  // line breaks in the part
  Part(std::string_view text, std::size_t regressors)
      : ids(text, rows.id_labels), times(text, rows.time_labels) {
    rows.regressors.resize(regressors);
  }
};

// Appends a part read apart, whose first line is `first_line` of the file.
void append(LongPanel &data, Interner &ids, Interner &times, const Part &part, long first_line,
            const std::string &source) {
  auto where = [&] { return source; };
  std::vector<std::uint32_t> id_code(part.rows.id_labels.size()),
      time_code(part.rows.time_labels.size());
  for (std::uint32_t k = 0; k < id_code.size(); ++k) id_code[k] = ids.code(part.ids.key(k), where);
  for (std::uint32_t k = 0; k < time_code.size(); ++k)
    time_code[k] = times.code(part.times.key(k), where);
  for (const long line : part.rows.lines) data.lines.push_back(line + first_line - 1);
  for (const std::uint32_t k : part.rows.id_of_row) data.id_of_row.push_back(id_code[k]);
  for (const std::uint32_t k : part.rows.time_of_row) data.time_of_row.push_back(time_code[k]);
  const auto extend = [](std::vector<double> &to, const std::vector<double> &from) {
    to.insert(to.end(), from.begin(), from.end());
  };
  extend(data.dependent, part.rows.dependent);
  for (std::size_t v = 0; v < data.regressors.size(); ++v)
    extend(data.regressors[v], part.rows.regressors[v]);
}

// Reads the rows of `text` in the parts `at` marks, the first on this
// thread straight into the panel (its first line is `first_line`), the
// others on the shared pool, then appended in order. False when a part
// cannot be read: reading the rows again in one part then reports the first
// error in the file.
bool read_parts(std::string_view text, const std::vector<std::size_t> &at, long first_line,
                const std::string &source, const Columns &columns, Interner &ids,
                Interner &times, LongPanel &data) {
  std::deque<Part> parts;
  for (std::size_t p = 1; p + 1 < at.size(); ++p) parts.emplace_back(text, data.regressors.size());
  // The first part's columns are sized for every row of the file, so that
  // they need not move when the others are appended.
  RecordSplitter first(text.substr(at[0], at[1] - at[0]), source, first_line);
  bool read = true;
  {
    TaskGroup group;
    for (std::size_t p = 1; p + 1 < at.size(); ++p)
      group.run([&, p] {
        Part &part = parts[p - 1];
        const std::string_view rows = text.substr(at[p], at[p + 1] - at[p]);
        RecordSplitter split(rows, source);
        read_rows(split, rows, source, columns, part.ids, part.times, part.rows);
        part.lines = split.line() - 1;
      });
    try {
      read_rows(first, text.substr(at[0]), source, columns, ids, times, data);
    } catch (const InputError &) {
      read = false;
    }
    try {
      group.wait();
    } catch (const InputError &) {
      read = false;
    }
  }
  if (!read) return false;
  std::size_t rows = data.rows();
  for (const Part &part : parts) rows += part.rows.rows();
  reserve_rows(data, rows);
  long line = first.line();
  try {
    for (const Part &part : parts) {
      append(data, ids, times, part, line, source);
      line += part.lines;
    }
  } catch (const InputError &) {
    return false;
  }
  return true;
}

// Parts of at least a megabyte are read at once on this thread and the pool's.
constexpr std::size_t kSmallestPart = std::size_t{1} << 20;
constexpr std::size_t kMostParts = 8;

}  // namespace

LongPanel read_csv(std::istream &in, const std::string &source, const ColumnSelection &c) {
  const Text text = read_all(in, source);
  return parse_csv(text.view(), source, c);
}

LongPanel parse_csv(std::string_view body, const std::string &source, const ColumnSelection &c) {
  const std::size_t threads = pool_threads() + 1;
  return parse_csv(body, source, c,
                   std::min({threads, kMostParts, std::max<std::size_t>(1, body.size() / kSmallestPart)}));
}

LongPanel parse_csv(std::string_view text, const std::string &source, const ColumnSelection &c,
                    std::size_t pieces) {
  std::string_view body = text;
  if (body.starts_with(kUtf8ByteOrderMark)) body.remove_prefix(kUtf8ByteOrderMark.size());
  RecordSplitter records(body, source);
  Record record;
  if (!records.next(record)) throw InputError(source + ": the file is empty");
  Columns columns;
  for (std::string_view h : record.fields) columns.header.emplace_back(trim(h));
  columns.index = resolve(columns.header, c, source);
  const std::vector<std::string> &header = columns.header;
  const std::vector<std::size_t> &index = columns.index;

  LongPanel data;
  data.source = source;
  data.id_name = header[index[0]];
  data.time_name = header[index[1]];
  data.dependent_name = header[index[2]];
  for (std::size_t v = 3; v < index.size(); ++v) data.regressor_names.push_back(header[index[v]]);
  data.regressors.resize(index.size() - 3);
  for (std::size_t column : index) data.source_columns.push_back(static_cast<int>(column + 1));

  Interner ids(body, data.id_labels), times(body, data.time_labels);
  const std::vector<std::size_t> at = cuts(body, records.position(), pieces);
  if (at.empty()) {
    read_rows(records, body, source, columns, ids, times, data);
  } else if (!read_parts(body, at, records.line(), source, columns, ids, times, data)) {
    return parse_csv(text, source, c, 1);
  }
  if (data.rows() == 0) throw InputError(source + ": the file has a header but no data rows");
  return data;
}

LongPanel read_csv_file(const std::string &path, const ColumnSelection &columns) {
  const FileText file = file_text(path);
  return parse_csv(file.view(), file.source, columns);
}

}  // namespace qvd::analysis
