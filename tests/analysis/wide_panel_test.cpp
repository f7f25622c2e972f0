// A long-format panel read from CSV and laid out as the module reads it.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <random>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "analysis/common/errors.h"
#include "analysis/input/csv_reader.h"
#include "analysis/layout/wide_panel.h"

namespace qvd::analysis {
namespace {

bool missing(double v) { return qvdep_is_missing(v) != 0; }

struct Read {
  LongPanel data;
  WidePanel wide;
};

Read read(const std::string &text, const ColumnSelection &columns = {}) {
  std::istringstream in(text);
  Read r;
  r.data = read_csv(in, "<csv>", columns);
  r.wide = make_wide_panel(r.data);
  return r;
}

TEST(WidePanel, LaysOutSectionsPeriodsAndValues) {
  // Unsorted periods, a section missing a period, a quoted header, an NA.
  const Read r = read(
      "\"firm\",year,y,x1,x2\n"
      "b,2001,5,6,7\n"
      "a,2000,1,2,3\n"
      "b,2000,8,9,10\n"
      "a,2001,NA,12,13\n"
      "c,2001,14,15,16\n");
  const WidePanel &p = r.wide;
  EXPECT_EQ(p.section_labels, (std::vector<std::string>{"b", "a", "c"}));
  EXPECT_EQ(p.period_labels, (std::vector<std::string>{"2000", "2001"}));
  EXPECT_EQ(p.panel.sections, 3);
  EXPECT_EQ(p.panel.periods, 2);
  EXPECT_EQ(p.panel.regressors, 2);
  EXPECT_EQ(r.data.dependent_name, "y");
  EXPECT_EQ(r.data.regressor_names, (std::vector<std::string>{"x1", "x2"}));
  EXPECT_EQ(r.data.rows(), 5u);
  const auto &v = p.panel.values;  // (section, period): x1, x2, y
  ASSERT_EQ(v.size(), 18u);
  EXPECT_EQ(std::vector<double>(v.begin(), v.begin() + 6), (std::vector<double>{9, 10, 8, 6, 7, 5}));
  EXPECT_EQ(std::vector<double>(v.begin() + 6, v.begin() + 11), (std::vector<double>{2, 3, 1, 12, 13}));
  EXPECT_TRUE(missing(v[11]));
  for (int i = 12; i < 15; ++i) EXPECT_TRUE(missing(v[i])) << i;  // c lacks 2000
  EXPECT_EQ(std::vector<double>(v.begin() + 15, v.end()), (std::vector<double>{15, 16, 14}));
}

TEST(WidePanel, NamedColumnsPickAndOrderTheRegressors) {
  const Read r = read("y,t,id,x1,x2\n1,1,a,2,3\n4,2,a,5,6\n",
                      {"id", "t", "y", std::vector<std::string>{"x2"}});
  EXPECT_EQ(r.data.regressor_names, (std::vector<std::string>{"x2"}));
  EXPECT_EQ(r.wide.panel.values, (std::vector<double>{3, 1, 6, 4}));
}

TEST(WidePanel, RefusesWhatItCannotRead) {
  const struct {
    const char *text;
    ColumnSelection columns;
    const char *message;
  } cases[] = {
      {"", {}, "empty"},
      {"a,b\n1,2\n", {}, "no column 3"},
      {"id,t,y\na,1,2\na,1,3\n", {}, "duplicate (id, t) pair (a, 1)"},
      {"id,t,y\na,1,x\n", {}, ":2:3: column \"y\": not a number"},
      {"id,t,y\na,,1\n", {}, ":2:2: column \"t\": empty"},
      {"id,t,y\na,1\n", {}, "2 fields where the header has 3"},
      {"id,t,y\n", {"id", "t", "z", std::nullopt}, "no column named \"z\""},
      // Periods of numbers and text: the first text label and its line.
      {"id,year,y\na,1950,1\na,1951,2\nb,1951,3\nb,1950a,4\nb,1950b,5\n", {},
       "<csv>:5:2: column \"year\": period \"1950a\" is not a number, but 2 other periods are"},
      {"t,id,y\nq1,a,1\n3,a,2\n", {"id", "t", "y", std::nullopt},
       "<csv>:2:1: column \"t\": period \"q1\" is not a number, but 1 other period is"},
  };
  for (const auto &c : cases) {
    try {
      read(c.text, c.columns);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const std::runtime_error &e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

// A random long-format text: ids and periods from small sets, missing and
// malformed values, LF, CRLF and CR line ends, blank lines, at times a
// quoted field, a ragged row or an empty id.
std::string random_csv(std::mt19937_64 &rng) {
  std::uniform_int_distribution<int> pick(0, 99);
  const char *ends[] = {"\n", "\r\n", "\r"};
  auto end = [&] { return ends[pick(rng) % 3]; };
  std::string text = pick(rng) < 10 ? "\xEF\xBB\xBFid,t,y,x" : "id,t,y,x";
  text += end();
  const int rows = pick(rng) % 40;
  for (int r = 0; r < rows; ++r) {
    const int kind = pick(rng);
    if (kind < 5) {
      text += end();  // a blank line
      continue;
    }
    text += kind < 7 ? "" : "s" + std::to_string(pick(rng) % 7);
    text += "," + std::to_string(pick(rng) % 9) + ",";
    text += kind < 9 ? "NA" : kind < 10 ? "oops" : kind < 11 ? "\"2.5\"" : std::to_string(pick(rng) * 0.25);
    if (kind != 12) text += "," + std::to_string(pick(rng) - 50);
    if (r + 1 < rows || pick(rng) < 50) text += end();
  }
  return text;
}

TEST(WidePanel, RowsReadInPartsAreTheRowsReadInOne) {
  std::mt19937_64 rng(79);
  for (int round = 0; round < 1000; ++round) {
    const std::string text = random_csv(rng);
    const std::size_t pieces = 2 + round % 4;
    std::string one_error, parts_error;
    LongPanel one, parts;
    try {
      one = parse_csv(text, "<csv>", {}, 1);
    } catch (const std::runtime_error &e) {
      one_error = e.what();
    }
    try {
      parts = parse_csv(text, "<csv>", {}, pieces);
    } catch (const std::runtime_error &e) {
      parts_error = e.what();
    }
    ASSERT_EQ(parts_error, one_error) << text;
    ASSERT_EQ(parts.id_labels, one.id_labels) << text;
    ASSERT_EQ(parts.id_of_row, one.id_of_row) << text;
    ASSERT_EQ(parts.time_labels, one.time_labels) << text;
    ASSERT_EQ(parts.time_of_row, one.time_of_row) << text;
    ASSERT_EQ(parts.lines, one.lines) << text;
    auto bits = [](const std::vector<double> &v) {
      std::vector<std::uint64_t> b;
      for (double x : v) b.push_back(std::bit_cast<std::uint64_t>(x));
      return b;
    };
    ASSERT_EQ(bits(parts.dependent), bits(one.dependent)) << text;
    ASSERT_EQ(parts.regressors.size(), one.regressors.size());
    for (std::size_t v = 0; v < one.regressors.size(); ++v)
      ASSERT_EQ(bits(parts.regressors[v]), bits(one.regressors[v])) << text;
  }
}

// Period labels of an array's second axis, in the array's order, and the
// order the layout must give them.
struct PeriodCase {
  std::vector<std::string> labels;
  std::vector<std::string> sorted;
};

const PeriodCase kPeriodCases[] = {
    {{"2001", "1999", "2000"}, {"1999", "2000", "2001"}},
    {{"10", "9", "100", "0.5"}, {"0.5", "9", "10", "100"}},      // numbers, not text
    {{"qb", "qa", "Qc"}, {"Qc", "qa", "qb"}},
};

// The panel of an array as rows in long format: the cells in a shuffled
// order (each section's first row still in the array's order of sections),
// most cells whose every value is missing left out, ids and periods interned
// with labels in no particular order, one given twice and one unused (the
// layout takes equal labels as one and orders sections by the rows).
LongPanel rows_of(const ArrayPanel &a, std::size_t n, std::size_t t, std::size_t k,
                  std::mt19937_64 &rng) {
  LongPanel data;
  data.regressor_names = a.regressor_names;
  data.regressors.resize(k);
  data.id_labels = a.section_labels;
  std::reverse(data.id_labels.begin(), data.id_labels.end());
  data.id_labels.push_back(a.section_labels[0]);
  data.time_labels = a.period_labels;
  data.time_labels.push_back("unused");
  std::vector<std::size_t> order, rest;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t leader = rng() % t;
    for (std::size_t j = 0; j < t; ++j) (j == leader ? order : rest).push_back(i * t + j);
  }
  std::shuffle(rest.begin(), rest.end(), rng);
  order.insert(order.end(), rest.begin(), rest.end());
  for (std::size_t p = 0; p < order.size(); ++p) {
    const std::size_t c = order[p], i = c / t;
    const double *v = a.values + c * (k + 1);
    // Section 0 keeps every period, and each section its leading row.
    const bool kept = i == 0 || p < n;
    if (!kept && std::all_of(v, v + k + 1, [](double x) { return std::isnan(x); })) continue;
    // Section 0's rows alternate between the two codes of its label.
    data.id_of_row.push_back(static_cast<std::uint32_t>(i == 0 && c % 2 == 1 ? n : n - 1 - i));
    data.time_of_row.push_back(static_cast<std::uint32_t>(c % t));
    for (std::size_t r = 0; r < k; ++r) data.regressors[r].push_back(v[r]);
    data.dependent.push_back(v[k]);
  }
  return data;
}

// Every cell of an array as a row, in the layout's order of cells: by
// cross-section, then by period as the layout sorts them (`sorted`).
LongPanel rows_in_cell_order(const ArrayPanel &a, std::size_t n, std::size_t k,
                             const std::vector<std::string> &sorted) {
  LongPanel data;
  data.regressor_names = a.regressor_names;
  data.regressors.resize(k);
  data.id_labels = a.section_labels;
  data.time_labels = a.period_labels;
  const std::size_t t = sorted.size();
  for (std::size_t i = 0; i < n; ++i)
    for (const std::string &period : sorted) {
      const auto j = static_cast<std::size_t>(
          std::find(a.period_labels.begin(), a.period_labels.end(), period) - a.period_labels.begin());
      const double *v = a.values + (i * t + j) * (k + 1);
      data.id_of_row.push_back(static_cast<std::uint32_t>(i));
      data.time_of_row.push_back(static_cast<std::uint32_t>(j));
      for (std::size_t r = 0; r < k; ++r) data.regressors[r].push_back(v[r]);
      data.dependent.push_back(v[k]);
    }
  return data;
}

TEST(WidePanel, AnArrayRefusesPeriodsOfNumbersAndText) {
  const std::vector<double> values(2 * 4, 1.0);
  ArrayPanel a;
  a.values = values.data();
  a.section_labels = {"a", "b"};
  a.period_labels = {"10", "9", "-1.5", "1e1x"};
  try {
    make_wide_panel(a);
    ADD_FAILURE() << "accepted";
  } catch (const InputError &e) {
    EXPECT_STREQ(e.what(), "row 4: column \"time\": period \"1e1x\" is not a number, but 3 "
                           "other periods are");
  }
}

TEST(WidePanel, AnArrayLaysOutAsItsRowsDoToTheBit) {
  std::mt19937_64 rng(7);
  for (const PeriodCase &periods : kPeriodCases)
    for (std::size_t k : {0u, 2u}) {
      const std::size_t n = 5, t = periods.labels.size();
      std::vector<double> values(n * t * (k + 1));
      std::normal_distribution<double> normal;
      for (double &v : values)
        v = rng() % 8 == 0 ? std::numeric_limits<double>::quiet_NaN() : normal(rng);
      ArrayPanel a;
      a.values = values.data();
      a.section_labels = {"s9", "s8", "s7", "s6", "s5"};
      a.period_labels = periods.labels;
      a.regressor_names.assign(k, "x");
      const WidePanel from_array = make_wide_panel(a);
      EXPECT_EQ(from_array.period_labels, periods.sorted);
      EXPECT_EQ(from_array.section_labels, a.section_labels);
      EXPECT_EQ(from_array.panel.periods, static_cast<int>(t));
      auto expect_same = [&](const WidePanel &other, const char *what) {
        EXPECT_EQ(other.period_labels, periods.sorted) << what;
        EXPECT_EQ(other.section_labels, a.section_labels) << what;
        ASSERT_EQ(from_array.panel.values.size(), other.panel.values.size()) << what;
        for (std::size_t c = 0; c < other.panel.values.size(); ++c)
          ASSERT_EQ(std::bit_cast<std::uint64_t>(from_array.panel.values[c]),
                    std::bit_cast<std::uint64_t>(other.panel.values[c]))
              << what << ", " << periods.labels[0] << ", cell " << c;
        EXPECT_EQ(from_array.complete_observations, other.complete_observations) << what;
        EXPECT_EQ(from_array.complete_per_section, other.complete_per_section) << what;
      };
      expect_same(make_wide_panel(rows_of(a, n, t, k, rng)), "rows");
      expect_same(make_wide_panel(rows_in_cell_order(a, n, k, periods.sorted)),
                  "rows in the layout's order");

      // The same array held variable by variable (as a DataFrame's columns
      // are), and with its cross-sections last to first: read through strides.
      const std::size_t w = k + 1;
      std::vector<double> by_variable(values.size()), reversed(values.size());
      for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < t; ++j)
          for (std::size_t v = 0; v < w; ++v) {
            by_variable[(v * t + j) * n + i] = values[(i * t + j) * w + v];
            reversed[((n - 1 - i) * t + j) * w + v] = values[(i * t + j) * w + v];
          }
      const auto d = [](std::size_t x) { return static_cast<std::ptrdiff_t>(x); };
      ArrayPanel strided = a;
      strided.values = by_variable.data();
      strided.strides = {{1, d(n), d(n * t)}};
      expect_same(make_wide_panel(strided), "by variable");
      strided.values = reversed.data() + (n - 1) * t * w;
      strided.strides = {{-d(t * w), d(w), 1}};
      expect_same(make_wide_panel(strided), "sections reversed");
    }
}

TEST(WidePanel, RefusesWhatItCannotLayOut) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    std::vector<std::string> ids, times;
    std::size_t bad_cell;  // set infinite, when one of the 8
    std::uint64_t budget;
    const char *message;
  } cases[] = {
      {{"a", "b"}, {"1", "2"}, 2, 0, "row 2: column \"x\": not a finite number"},
      {{"a", "b"}, {"1", "2"}, 5, 0, "row 3: column \"y\": not a finite number"},
      {{"a", "a"}, {"1", "2"}, 9, 0, "row 3: duplicate (id, time) pair (a, 1), first given at row 1"},
      {{"a", "b"}, {"7", "7.0"}, 9, 0, "row 2: duplicate (id, time) pair (a, 7.0), first given at row 1"},
      // A repeated period shows in the first cross-section, before a
      // repeated id; an infinity before either comes first.
      {{"a", "a"}, {"x", "x"}, 9, 0, "row 2: duplicate (id, time) pair (a, x), first given at row 1"},
      {{"a", "a"}, {"1", "2"}, 1, 0, "row 1: column \"y\""},
      {{"a", "b"}, {"1", "2"}, 9, 1,
       "2 cross-sections \u00d7 2 periods from 4 rows (100 % filled) needs about"},
  };
  for (const auto &c : cases) {
    std::vector<double> values(8, 1.0);
    if (c.bad_cell < values.size()) values[c.bad_cell] = -inf;
    ArrayPanel a;
    a.values = values.data();
    a.section_labels = c.ids;
    a.period_labels = c.times;
    a.regressor_names = {"x"};
    // The same cells as rows in the array's order, which is the layout's
    // where the labels are distinct and sorted.
    LongPanel rows;
    rows.id_labels = c.ids;
    rows.time_labels = c.times;
    rows.regressor_names = {"x"};
    rows.regressors.resize(1);
    for (std::uint32_t r = 0; r < 4; ++r) {
      rows.id_of_row.push_back(r / 2);
      rows.time_of_row.push_back(r % 2);
      rows.regressors[0].push_back(values[2 * r]);
      rows.dependent.push_back(values[2 * r + 1]);
    }
    for (const bool as_rows : {false, true}) try {
        as_rows ? make_wide_panel(rows, {true, 0, c.budget}) : make_wide_panel(a, {true, 0, c.budget});
        ADD_FAILURE() << "accepted: " << c.message;
      } catch (const std::runtime_error &e) {
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
      }
  }
  LongPanel data;
  data.source = "m";
  data.id_labels = {"a"};
  data.time_labels = {"1"};
  data.id_of_row = {0, 1};
  data.time_of_row = {0, 0};
  data.dependent = {1, 2};
  try {
    make_wide_panel(data);
    ADD_FAILURE() << "a code past its labels was accepted";
  } catch (const std::runtime_error &e) {
    EXPECT_STREQ(e.what(), "m: row 2: column \"id\": no label for code 1");
  }
  // A caller's own row names (a DataFrame's index labels), cut as any text
  // from the data is.
  data.row_name = [](std::size_t row) { return "'r" + std::to_string(row) + "'\n"; };
  try {
    make_wide_panel(data);
    ADD_FAILURE() << "a code past its labels was accepted";
  } catch (const std::runtime_error &e) {
    EXPECT_STREQ(e.what(), "m: row 'r1'\\n: column \"id\": no label for code 1");
  }
}

}  // namespace
}  // namespace qvd::analysis
