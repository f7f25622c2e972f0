// A long-format panel read from CSV and laid out as the module reads it.
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "analysis/csv_reader.h"
#include "analysis/wide_panel.h"

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

}  // namespace
}  // namespace qvd::analysis
