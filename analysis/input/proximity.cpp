#include "analysis/input/proximity.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <unordered_map>

#include "analysis/common/errors.h"
#include "analysis/input/csv_records.h"

namespace qvd::analysis {
namespace {

std::string quoted(std::string_view id) {
  std::string text(1, '"');
  return text.append(excerpt(id)).append(1, '"');
}

// The panel's cross-sections by label.
class SectionIndex {
 public:
  explicit SectionIndex(const std::vector<std::string> &ids) : ids_(ids) {
    for (std::size_t i = 0; i < ids.size(); ++i) index_.emplace(ids[i], i);
  }
  std::optional<std::size_t> find(std::string_view id) const {
    const auto it = index_.find(id);
    return it == index_.end() ? std::nullopt : std::optional(it->second);
  }
  std::size_t size() const { return ids_.size(); }
  const std::string &id(std::size_t section) const { return ids_[section]; }

 private:
  const std::vector<std::string> &ids_;
  std::unordered_map<std::string_view, std::size_t> index_;
};

// plm's dimension check.
void check_size(std::size_t rows, std::size_t columns, std::size_t sections,
                const std::string &where) {
  if (rows != sections || columns != sections)
    throw InputError(where + ": the proximity matrix is " + std::to_string(rows) + " x " +
                     std::to_string(columns) + "; the panel has " + std::to_string(sections) +
                     " cross-sections, so it must be " + std::to_string(sections) + " x " +
                     std::to_string(sections));
}

// Where a matrix's parts are, for messages: the id cell of row r and of
// column c, and cell (r, c), each as a message's prefix ("FILE:LINE:COLUMN"),
// and a cell as a sentence names it.
struct MatrixPlaces {
  std::function<std::string(std::size_t r)> row;
  std::function<std::string(std::size_t c)> column;
  std::function<std::string(std::size_t r, std::size_t c)> cell;
  std::function<std::string(std::size_t r, std::size_t c)> cell_in_text;
};

// A matrix read row by row into the pairs its cells name below the
// diagonal and those above (below: the column comes before the row's
// cross-section in the order of the columns), then plm's checks on them.
class MatrixPattern {
 public:
  MatrixPattern(const SectionIndex &panel, const std::vector<std::string> &column_ids,
                MatrixPlaces places)
      : panel_(panel), places_(std::move(places)), column_section_(column_ids.size()),
        position_(panel.size(), kNone), row_of_(panel.size(), kNone), lower_(panel.size()),
        upper_(panel.size()) {
    for (std::size_t c = 0; c < column_ids.size(); ++c) {
      const std::optional<std::size_t> s = panel.find(column_ids[c]);
      if (!s)
        throw InputError(places_.column(c) + ": " + quoted(column_ids[c]) +
                         " is not a cross-section of the panel");
      if (position_[*s] != kNone)
        throw InputError(places_.column(c) + ": " + quoted(column_ids[c]) +
                         " names a second column");
      position_[*s] = c;
      column_section_[c] = *s;
    }
  }

  // Row r, of cross-section `id`, whose cell c is value(c): a number, or
  // NaN for a missing cell.
  template <typename Value>
  void row(std::size_t r, std::string_view id, const Value &value) {
    const std::optional<std::size_t> a = panel_.find(id);
    if (!a)
      throw InputError(places_.row(r) + ": " + quoted(id) + " is not a cross-section of the panel");
    if (row_of_[*a] != kNone)
      throw InputError(places_.row(r) + ": a second row for cross-section " + quoted(id));
    row_of_[*a] = r;
    for (std::size_t c = 0; c < column_section_.size(); ++c) {
      const double w = value(c);
      if (!std::isfinite(w))
        throw InputError(places_.cell(r, c) + ": " +
                         (std::isnan(w) ? "a missing cell (a proximity matrix has none)"
                                        : "not a finite number"));
      const std::size_t b = column_section_[c];
      if (w == 0 || b == *a) continue;
      (c < position_[*a] ? lower_ : upper_).add(*a, b);
    }
  }

  // The pairs below the diagonal, once every row is read and plm's checks
  // pass (in plm's order: neighbours below the diagonal, then agreement).
  Neighbours finish(const std::string &source) {
    for (std::size_t c = 0; c < column_section_.size(); ++c)
      if (row_of_[column_section_[c]] == kNone)
        throw InputError(source + ": no row for cross-section " +
                         quoted(panel_.id(column_section_[c])) + " (a proximity matrix is " +
                         std::to_string(panel_.size()) + " x " + std::to_string(panel_.size()) +
                         ")");
    if (lower_.pairs() == 0)
      throw InputError(source + ": no pair of cross-sections is neighbours below the diagonal "
                       "(the lower triangle is read; the upper, when it names any pair, must "
                       "name the same)");
    if (upper_.pairs() != 0 && !(upper_ == lower_)) ambiguous();
    return std::move(lower_);
  }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // Names the first pair, in the order of the columns, whose two cells disagree.
  [[noreturn]] void ambiguous() const {
    for (std::size_t p = 1; p < column_section_.size(); ++p)
      for (std::size_t q = 0; q < p; ++q) {
        const std::size_t a = column_section_[p], b = column_section_[q];
        const std::size_t i = std::min(a, b), j = std::max(a, b);
        const bool below = lower_.contains(i, j);
        if (below == upper_.contains(i, j)) continue;
        throw InputError(places_.cell(row_of_[a], q) + ": " + (below ? "not zero" : "zero") +
                         " below the diagonal, but " + (below ? "zero" : "not zero") +
                         " above it at " + places_.cell_in_text(row_of_[b], p) +
                         ": when the upper triangle names neighbours it must name the same "
                         "pairs as the lower (or none: the lower triangle suffices)");
      }
    throw InputError("the triangles of the proximity matrix disagree");  // not reached
  }

  const SectionIndex &panel_;
  MatrixPlaces places_;
  std::vector<std::size_t> column_section_;  // the cross-section of each column
  std::vector<std::size_t> position_;        // the column of each cross-section
  std::vector<std::size_t> row_of_;          // the row of each cross-section
  Neighbours lower_, upper_;
};

// Pairs named one at a time, as an edge list names them.
class PairList {
 public:
  explicit PairList(const SectionIndex &panel) : panel_(panel), pairs_(panel.size()) {}

  // `where(k)`: the place of the pair's k-th id (0 or 1) as a message's prefix.
  template <typename Where>
  void add(std::string_view a, std::string_view b, const Where &where) {
    const std::optional<std::size_t> i = section(a, 0, where), j = section(b, 1, where);
    if (*i != *j) pairs_.add(*i, *j);  // the diagonal, as in a matrix, is not read
  }

  Neighbours finish(const std::string &source) {
    if (pairs_.pairs() == 0)
      throw InputError(source + ": no pair of neighbours (a cross-section paired with itself "
                       "does not count)");
    return std::move(pairs_);
  }

 private:
  template <typename Where>
  std::optional<std::size_t> section(std::string_view id, int k, const Where &where) const {
    if (id.empty()) throw InputError(where(k) + ": empty");
    const std::optional<std::size_t> s = panel_.find(id);
    if (!s) throw InputError(where(k) + ": " + quoted(id) + " is not a cross-section of the panel");
    return s;
  }

  const SectionIndex &panel_;
  Neighbours pairs_;
};

std::string at(const std::string &source, long line) { return source + ":" + std::to_string(line); }
std::string at(const std::string &source, long line, std::size_t column) {
  return at(source, line) + ":" + std::to_string(column);
}

// A matrix file after its header row `header`.
Neighbours matrix_file(RecordSplitter &records, const Record &header, const SectionIndex &panel,
                       const std::string &source) {
  std::vector<std::string> column_ids;
  for (std::size_t f = 1; f < header.fields.size(); ++f)
    column_ids.emplace_back(trim(header.fields[f]));
  if (column_ids.size() != panel.size())
    throw InputError(at(source, header.line) + ": the header names " +
                     std::to_string(column_ids.size()) +
                     " columns of cross-sections; the panel has " +
                     std::to_string(panel.size()) + ", so a proximity matrix is " +
                     std::to_string(panel.size()) + " x " + std::to_string(panel.size()));
  std::vector<long> lines;  // of each row read
  const long header_line = header.line;
  MatrixPattern pattern(
      panel, column_ids,
      {[&](std::size_t r) { return at(source, lines[r], 1); },
       [&](std::size_t c) { return at(source, header_line, c + 2); },
       [&](std::size_t r, std::size_t c) { return at(source, lines[r], c + 2); },
       [&](std::size_t r, std::size_t c) {
         return "line " + std::to_string(lines[r]) + ", column " + std::to_string(c + 2);
       }});
  Record record;
  while (records.next(record)) {
    if (record.fields.size() != column_ids.size() + 1)
      throw InputError(at(source, record.line) + ": " + std::to_string(record.fields.size()) +
                       " fields where the header has " + std::to_string(column_ids.size() + 1));
    lines.push_back(record.line);
    pattern.row(lines.size() - 1, trim(record.fields[0]), [&](std::size_t c) {
      bool too_large = false;
      const std::optional<double> w = parse_value(record.fields[c + 1], too_large);
      if (!w)
        throw InputError(at(source, record.line, c + 2) + ": " +
                         (too_large ? "not a finite number" : "not a number") + ": " +
                         quoted(trim(record.fields[c + 1])));
      return *w;
    });
  }
  return pattern.finish(source);
}

// An edge list after its header row `header`.
Neighbours edge_list_file(RecordSplitter &records, const Record &header, const SectionIndex &panel,
                          const std::string &source) {
  const std::string_view first = trim(header.fields[0]), second = trim(header.fields[1]);
  if (panel.find(first) && panel.find(second))
    throw InputError(at(source, header.line) + ": the first line names two cross-sections, " +
                     quoted(first) + " and " + quoted(second) +
                     "; an edge list starts with a header row of column names");
  PairList pairs(panel);
  Record record;
  while (records.next(record)) {
    if (record.fields.size() != 2)
      throw InputError(at(source, record.line) + ": " + std::to_string(record.fields.size()) +
                       " fields where an edge list has 2");
    pairs.add(trim(record.fields[0]), trim(record.fields[1]),
              [&](int k) { return at(source, record.line, static_cast<std::size_t>(k) + 1); });
  }
  return pairs.finish(source);
}

}  // namespace

Neighbours parse_proximity_csv(std::string_view text, const std::string &source,
                               const std::vector<std::string> &ids) {
  if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
  RecordSplitter records(text, source);
  Record header;
  if (!records.next(header)) throw InputError(source + ": the file is empty");
  const SectionIndex panel(ids);
  if (header.fields.size() == 2) return edge_list_file(records, header, panel, source);
  if (header.fields.size() < 2)
    throw InputError(at(source, header.line) +
                     ": one column; a proximity matrix's header row names its columns' "
                     "cross-sections after one cell, an edge list's names its two columns");
  return matrix_file(records, header, panel, source);
}

Neighbours read_proximity_file(const std::string &path, const std::vector<std::string> &ids) {
  const FileText file = file_text(path);
  return parse_proximity_csv(file.view(), file.source, ids);
}

Neighbours proximity_matrix(const std::vector<std::string> &row_ids,
                            const std::vector<std::string> &column_ids, const double *cells,
                            const std::vector<std::string> &ids, const std::string &source) {
  check_size(row_ids.size(), column_ids.size(), ids.size(), source);
  const SectionIndex panel(ids);
  auto cell_in_text = [&](std::size_t r, std::size_t c) {
    return "row " + quoted(row_ids[r]) + ", column " + quoted(column_ids[c]);
  };
  MatrixPattern pattern(
      panel, column_ids,
      {[&](std::size_t r) { return source + ": row " + quoted(row_ids[r]); },
       [&](std::size_t c) { return source + ": column " + quoted(column_ids[c]); },
       [&](std::size_t r, std::size_t c) { return source + ": " + cell_in_text(r, c); },
       cell_in_text});
  const std::size_t n = column_ids.size();
  for (std::size_t r = 0; r < row_ids.size(); ++r)
    pattern.row(r, row_ids[r], [&](std::size_t c) { return cells[r * n + c]; });
  return pattern.finish(source);
}

Neighbours proximity_matrix(const double *cells, std::size_t rows, std::size_t columns,
                            const std::vector<std::string> &ids, const std::string &source) {
  check_size(rows, columns, ids.size(), source);
  return proximity_matrix(ids, ids, cells, ids, source);
}

Neighbours neighbour_pairs(const std::vector<std::pair<std::string, std::string>> &pairs,
                           const std::vector<std::string> &ids, const std::string &source) {
  const SectionIndex panel(ids);
  PairList list(panel);
  for (std::size_t p = 0; p < pairs.size(); ++p)
    list.add(pairs[p].first, pairs[p].second, [&](int k) {
      return source + ": pair " + std::to_string(p + 1) + ", its " + (k == 0 ? "first" : "second") +
             " cross-section";
    });
  return list.finish(source);
}

}  // namespace qvd::analysis
