// The report library reads a result's test rows by their kind: a row's title
// and its JSON entry do not depend on where it stands among the rows, and a
// kind that is absent leaves no line behind; its columns line up whatever
// the figures' sizes.
#include <cmath>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "analysis/result/test_kinds.h"
#include "report/json_output.h"
#include "report/report.h"

namespace qvd::report {
namespace {

using analysis::PValueSource;
using analysis::TestKind;
using analysis::TestRow;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

analysis::Result result_with(std::vector<TestRow> rows) {
  analysis::Result r;
  r.shape = {3, 5, 1, 0, 15, 15, 3, 0};
  r.id_name = "firm";
  r.time_name = "year";
  r.dependent = "y";
  r.regressors = {"x"};
  r.options.order = 4;
  r.mean_correlation = r.mean_abs_correlation = 0.25;
  r.tests = std::move(rows);
  return r;
}

// The report's line that starts with `title`, or "" when there is none.
std::string line_of(const std::string &report, const std::string &title) {
  const std::size_t at = report.find("\n  " + title + " ");
  if (at == std::string::npos) return "";
  return report.substr(at + 3, report.find('\n', at + 1) - at - 3);
}

TEST(Report, RowsAreTitledByKindWhereverTheyStand) {
  const TestRow lm{TestKind::lm, "LM", 1.5, "chi2(3)", 0.25, PValueSource::tool, "", "", ""};
  const TestRow local{TestKind::local_cd, "CD(4)", -2.0, "N(0,1) two-sided", 0.5,
                      PValueSource::tool, "", "", ""};
  const TestRow weighted{TestKind::weighted_cd, "weighted CD", 0.75, "N(0,1) two-sided", 0.125,
                         PValueSource::tool, "", "", ""};
  const std::string text = report_text("data.csv", result_with({weighted, local, lm}));
  EXPECT_EQ(line_of(text, "local CD(4)"),
            "local CD(4)             -2.000000  N(0,1) two-sided            0.5");
  EXPECT_EQ(line_of(text, "weighted CD"),
            "weighted CD              0.750000  N(0,1) two-sided          0.125");
  EXPECT_EQ(line_of(text, "Breusch-Pagan LM"),
            "Breusch-Pagan LM         1.500000  chi2(3)                    0.25");
  // Absent kinds leave no line.
  EXPECT_EQ(line_of(text, "Pesaran CD"), "");
  EXPECT_EQ(line_of(text, "Pesaran scaled LM"), "");
  // Rows keep the result's order.
  EXPECT_LT(text.find("weighted CD  "), text.find("local CD(4)"));
  EXPECT_LT(text.find("local CD(4)"), text.find("Breusch-Pagan LM"));
}

// Whatever the size of a statistic or the length of a p-value, each column
// of both blocks ends where its heading does; each block names its
// definitions when the unbalanced one is there, and warnings wrap.
TEST(Report, ColumnsStayAlignedAndBlocksSayWhatTheyAre) {
  const TestRow lm{TestKind::lm, "LM", 15878601.982709, "chi2(1999000)", 0.0,
                   PValueSource::tool, "", "", ""};
  const TestRow cd{TestKind::cd, "CD", -3.5, "N(0,1) two-sided", 4.6e-4, PValueSource::tool, "",
                   "", ""};
  const TestRow plm_lm{TestKind::unbalanced_lm, "LM (unbalanced)", 123456789012.5, "chi2(12)",
                       1e-299, PValueSource::tool, "", "", ""};
  analysis::Result r = result_with({lm, cd, plm_lm});
  r.lm_degrees_of_freedom = 1999000;
  r.unbalanced = {true, 12, 3, 0.1, 0.2};
  r.warnings = {std::string(30, 'w') + " " + std::string(60, 'v') + " " + std::string(95, 'u')};
  const std::string text = report_text("data.csv", r);
  std::vector<std::string> table;
  for (const char *title : {"test", "Breusch-Pagan LM", "Pesaran CD", "LM"}) {
    table.push_back(line_of(text, title));
    ASSERT_FALSE(table.back().empty()) << title << "\n" << text;
  }
  const std::size_t heading_end = table[0].size();
  const std::size_t statistic_end = table[0].find("statistic") + 9;
  for (const std::string &line : table) {
    EXPECT_EQ(line.size(), heading_end) << line;
    EXPECT_TRUE(line[statistic_end - 1] != ' ' && line[statistic_end] == ' ') << line;
  }
  EXPECT_NE(table[1].find("15878601.982709  chi2(1999000)"), std::string::npos) << table[1];
  EXPECT_NE(text.find("Definitions of the module, for balanced panels"), std::string::npos);
  EXPECT_NE(text.find("Pesaran's definitions for unbalanced panels"), std::string::npos);
  EXPECT_NE(text.find("plm prints the two-sided p-value"), std::string::npos);
  EXPECT_NE(text.find("  warning: " + std::string(30, 'w') + "\n    " + std::string(60, 'v') +
                      "\n    " + std::string(95, 'u') + "\n"),
            std::string::npos)
      << text;
  // A balanced result names no definitions.
  r.unbalanced.present = false;
  EXPECT_EQ(report_text("data.csv", r).find("Definitions of the module"), std::string::npos);
}

TEST(Report, JsonHasOneEntryPerRowInItsOrder) {
  const TestRow cd{TestKind::cd, "CD", kNaN, "N(0,1) two-sided", kNaN, PValueSource::none, "",
                   "", ""};
  const TestRow lm{TestKind::lm, "LM", 2.0, "chi2(3)", 0.5, PValueSource::tool, "", "", ""};
  const nlohmann::json j = result_json("data.csv", result_with({cd, lm}))["tests"];
  ASSERT_EQ(j.size(), 2u);
  EXPECT_EQ(j[0], nlohmann::json({{"kind", "cd"},
                                  {"name", "CD"},
                                  {"statistic", nullptr},
                                  {"distribution", "N(0,1) two-sided"},
                                  {"p_value", nullptr},
                                  {"p_value_source", "none"},
                                  {"reference", ""}}));
  EXPECT_EQ(j[1]["name"], "LM");
  EXPECT_EQ(j[1]["p_value_source"], "tool");
}

TEST(Report, PValuesAsPrinted) {
  const struct {
    double p;
    const char *printed;
  } cases[] = {
      {kNaN, "NA"},
      {0.0, "< 1e-300"},  // a tail the double cannot hold, not a probability of 0
      {9.9e-301, "< 1e-300"},
      {4.9e-324, "< 1e-300"},
      {2.71478e-14, "2.71478e-14"},
      {1.0, "1"},
      {9.31818e-06, "9.31818e-06"},
      {0.3348041, "0.334804"},
      {1e-300, "1e-300"},
  };
  for (const auto &c : cases) EXPECT_EQ(format_pvalue(c.p), c.printed) << c.p;
  EXPECT_EQ(pvalue_phrase(0.0), "p < 1e-300");
  EXPECT_EQ(pvalue_phrase(0.25), "p = 0.25");
}

}  // namespace
}  // namespace qvd::report

namespace qvd::report {
namespace {

// Every kind has its one row in the catalogue, in the enumeration's order,
// and no two share a JSON key, a name or a Python attribute.
TEST(TestKinds, EveryKindHasOneRowAndItsOwnNames) {
  const auto &kinds = analysis::test_kinds();
  ASSERT_EQ(kinds.size(), static_cast<std::size_t>(analysis::kTestKinds));
  std::set<std::string_view> keys, names, attributes;
  for (int k = 0; k < analysis::kTestKinds; ++k) {
    const auto kind = static_cast<analysis::TestKind>(k);
    const analysis::TestKindInfo &info = analysis::test_kind(kind);
    EXPECT_EQ(info.kind, kind);
    EXPECT_EQ(&info, &kinds[static_cast<std::size_t>(k)]);
    EXPECT_TRUE(keys.insert(info.key).second) << info.key;
    EXPECT_TRUE(names.insert(info.name).second) << info.name;
    EXPECT_TRUE(attributes.insert(info.statistic_attribute).second) << info.statistic_attribute;
    EXPECT_TRUE(attributes.insert(info.pvalue_attribute).second) << info.pvalue_attribute;
  }
  EXPECT_EQ(analysis::filled("CD({p}) {k} {df}{r}", {"2", 4, 3, 45}), "CD(2) 4 45, 3 draws");
}

}  // namespace
}  // namespace qvd::report
