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

#include <emmintrin.h>  // SSE2, which every x86-64 processor has

#include "analysis/common/errors.h"
#include "analysis/common/task_group.h"
#include "analysis/input/mapped_file.h"

namespace qvd::analysis {
namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

std::string_view trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// The whole input in memory that is not first cleared, read in large
// blocks (a stream grows by doubling).
struct Text {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;
  std::string_view view() const { return {bytes.get(), size}; }
};

Text read_all(std::istream &in, const std::string &source) {
  std::streambuf *buffer = in.rdbuf();
  std::size_t capacity = std::size_t{1} << 16;
  Text text{std::make_unique_for_overwrite<char[]>(capacity), 0};
  for (;;) {
    if (text.size == capacity) {
      auto larger = std::make_unique_for_overwrite<char[]>(2 * capacity);
      std::memcpy(larger.get(), text.bytes.get(), text.size);
      text.bytes = std::move(larger);
      capacity *= 2;
    }
    const std::streamsize got = buffer->sgetn(text.bytes.get() + text.size,
                                              static_cast<std::streamsize>(capacity - text.size));
    if (got <= 0) break;
    text.size += static_cast<std::size_t>(got);
  }
  if (in.bad()) throw InputError(source + ": cannot be read");
  return text;
}

// One record of the file: the line on which it starts and its fields, which
// stay valid until the next record is read.
struct Record {
  long line = 0;
  std::vector<std::string_view> fields;
};

// Splits the text into records. A quoted field may hold commas, line breaks
// and "" for a quote; a line break is LF, CRLF or a lone CR (as old
// spreadsheets on the Mac write it), so a CR never ends up in a field. A
// quote may open anywhere in a field. Fields without a quote are views of
// the text itself; a field with one is unescaped into the record's own
// buffer, so reading allocates nothing per field.
class RecordSplitter {
 public:
  RecordSplitter(std::string_view text, const std::string &source, long first_line = 1)
      : text_(text), source_(source), line_(first_line) {
    for (unsigned char c : std::string_view(",\"\r\n")) special_[c] = true;
  }

  std::size_t position() const { return pos_; }  // where the next record starts
  long line() const { return line_; }             // the line it starts on

  // The next record that is not blank; false at the end of the text.
  bool next(Record &record) {
    while (pos_ < text_.size() || !finished_) {
      if (pos_ >= text_.size()) finished_ = true;  // the text's last record
      if (split_one(record)) return true;
    }
    return false;
  }

 private:
  struct Span {
    std::size_t begin, size;
    bool own;  // in unescaped_ rather than the text
  };

  // Reads one record; false when it is blank (one empty, unquoted field).
  bool split_one(Record &record) {
    record.line = line_;
    spans_.clear();
    unescaped_.clear();
    bool quoted_any = false, more = true;
    while (more) {
      Span span{pos_, 0, false};
      std::size_t end = 0;  // where an unquoted field ends in the text
      for (;;) {
        const std::size_t run = pos_;
        pos_ = next_special(pos_);
        if (span.own) unescaped_.append(text_, run, pos_ - run);
        end = pos_;
        if (pos_ >= text_.size()) {
          more = false;
          break;
        }
        const char ch = text_[pos_++];
        if (ch == ',') break;
        if (ch == '\n' || ch == '\r') {
          if (ch == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
          ++line_;
          more = false;
          break;
        }
        // A quote: the field so far moves to the record's buffer.
        if (!span.own) {
          span = {unescaped_.size(), 0, true};
          unescaped_.append(text_, run, end - run);
        }
        quoted_any = true;
        read_quoted(record.line);
      }
      span.size = span.own ? unescaped_.size() - span.begin : end - span.begin;
      spans_.push_back(span);
    }
    if (spans_.size() == 1 && spans_[0].size == 0 && !quoted_any) return false;
    record.fields.clear();
    for (const Span &f : spans_)
      record.fields.push_back(f.own ? std::string_view(unescaped_).substr(f.begin, f.size)
                                    : text_.substr(f.begin, f.size));
    return true;
  }

  // The first comma, quote, CR or LF at or after `from` (the text's size if
  // none), sixteen bytes at a time.
  std::size_t next_special(std::size_t from) const {
    const char *p = text_.data();
    const std::size_t n = text_.size();
    const __m128i comma = _mm_set1_epi8(','), quote = _mm_set1_epi8('"');
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    for (; from + 16 <= n; from += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + from));
      const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, comma), _mm_cmpeq_epi8(v, quote)),
                                       _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
      const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
      if (mask != 0) return from + static_cast<std::size_t>(__builtin_ctz(mask));
    }
    while (from < n && !special_[static_cast<unsigned char>(p[from])]) ++from;
    return from;
  }

  // After an opening quote: up to and past the closing one, unescaping "".
  void read_quoted(long record_line) {
    for (;;) {
      const std::size_t stop = text_.find_first_of("\"\n", pos_);
      if (stop == std::string_view::npos)
        throw InputError(source_ + ":" + std::to_string(record_line) +
                         ": a quoted field is not closed before the end of the file");
      unescaped_.append(text_, pos_, stop - pos_);
      pos_ = stop + 1;
      if (text_[stop] == '\n') {
        ++line_;
        unescaped_ += '\n';
      } else if (pos_ < text_.size() && text_[pos_] == '"') {
        unescaped_ += '"';
        ++pos_;
      } else {
        return;
      }
    }
  }

  std::string_view text_;
  const std::string &source_;
  bool special_[256] = {};
  std::size_t pos_ = 0;
  long line_;
  bool finished_ = false;
  std::vector<Span> spans_;
  std::string unescaped_;
};

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

// A number of a numeric column, NaN for a missing one (empty, NA or .);
// nullopt when the text is not a finite number (`finite` tells which
// message fits: false when it was a number too large for a double).
std::optional<double> parse_value(std::string_view raw, bool &too_large) {
  const std::string_view text = trim(raw);
  too_large = false;
  if (text.empty() || text == "NA" || text == ".") return std::numeric_limits<double>::quiet_NaN();
  // from_chars takes no leading '+'; one is skipped, but not before a sign.
  const std::size_t skip = text[0] == '+' && text.size() > 1 && text[1] != '-' ? 1 : 0;
  double value = 0;
  const char *end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data() + skip, end, value);
  if (ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range)) return std::nullopt;
  // from_chars reports underflow and overflow alike; a number too small
  // for a double rounds to zero (or a subnormal), as any reader rounds it,
  // and only one too large is refused. strtod tells them apart and rounds;
  // its end must agree with from_chars' (a locale with a decimal comma
  // would stop early and the number stays refused).
  if (ec == std::errc::result_out_of_range) {
    const std::string copy(text.substr(skip));
    char *stop = nullptr;
    const double rounded = std::strtod(copy.c_str(), &stop);
    if (stop == copy.c_str() + copy.size() && std::isfinite(rounded)) return rounded;
  }
  if (ec == std::errc::result_out_of_range || !std::isfinite(value)) {
    too_large = true;
    return std::nullopt;
  }
  return value;
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
  // Spreadsheets often start a UTF-8 file with a byte-order mark; it is not
  // part of the first column's name.
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
  if (path == "-") return read_csv(std::cin, "<stdin>", columns);
  if (const std::optional<MappedFile> file = MappedFile::open(path))
    return parse_csv(file->bytes(), path, columns);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw InputError(path + ": cannot be opened");
  return read_csv(in, path, columns);
}

}  // namespace qvd::analysis
