// The report library reads a result's test rows by their kind: a row's title,
// its LM star and its JSON entry do not depend on where it stands among the
// rows, and a kind that is absent leaves no line behind.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

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
  const TestRow lm{TestKind::lm, "LM", 1.5, "chi2(3)", 0.25, PValueSource::tool, "", ""};
  const TestRow local{TestKind::local_cd, "CD(4)", -2.0, "N(0,1) two-sided", 0.5,
                      PValueSource::module, "", ""};
  const TestRow weighted{TestKind::weighted_cd, "weighted CD", 0.75, "N(0,1) two-sided", 0.125,
                         PValueSource::tool, "", ""};
  const std::string text = report_text("data.csv", result_with({weighted, local, lm}));
  EXPECT_EQ(line_of(text, "local CD(4)"),
            "local CD(4)             -2.000000  N(0,1) two-sided            0.5");
  EXPECT_EQ(line_of(text, "weighted CD"),
            "weighted CD              0.750000  N(0,1) two-sided          0.125");
  // Only LM's p-value carries the star when the tool computed it.
  EXPECT_EQ(line_of(text, "Breusch-Pagan LM"),
            "Breusch-Pagan LM         1.500000  chi2(3)                    0.25 *");
  EXPECT_NE(text.find("* p-value computed by qvdep"), std::string::npos);
  // Absent kinds leave no line.
  EXPECT_EQ(line_of(text, "Pesaran CD"), "");
  EXPECT_EQ(line_of(text, "Pesaran scaled LM"), "");
  // Rows keep the result's order.
  EXPECT_LT(text.find("weighted CD  "), text.find("local CD(4)"));
  EXPECT_LT(text.find("local CD(4)"), text.find("Breusch-Pagan LM"));
}

TEST(Report, NoStarWithoutAnLmRowFromTheTool) {
  const TestRow cd{TestKind::cd, "CD", 1.0, "N(0,1) two-sided", 0.3, PValueSource::tool, "", ""};
  const TestRow lm{TestKind::lm, "LM", 1.0, "chi2(3)", 0.3, PValueSource::module, "", ""};
  for (const auto &rows : std::vector<std::vector<TestRow>>{{cd}, {cd, lm}, {}}) {
    const std::string text = report_text("data.csv", result_with(rows));
    EXPECT_EQ(text.find(" *\n"), std::string::npos);
    EXPECT_EQ(text.find("p-value computed by qvdep"), std::string::npos);
  }
}

TEST(Report, JsonHasOneEntryPerRowInItsOrder) {
  const TestRow cd{TestKind::cd, "CD", kNaN, "N(0,1) two-sided", kNaN, PValueSource::none, "", ""};
  const TestRow lm{TestKind::lm, "LM", 2.0, "chi2(3)", 0.5, PValueSource::module, "", ""};
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
  EXPECT_EQ(j[1]["p_value_source"], "module");
}

TEST(Report, PValuesAsPrinted) {
  const struct {
    double p;
    const char *printed;
  } cases[] = {
      {kNaN, "NA"},
      {0.0, "< 2.2e-16"},  // a tail below the double's resolution, not a probability of 0
      {1.0, "1"},
      {9.31818e-06, "9.31818e-06"},
      {0.3348041, "0.334804"},
      {1e-300, "1e-300"},
  };
  for (const auto &c : cases) EXPECT_EQ(format_pvalue(c.p), c.printed) << c.p;
}

}  // namespace
}  // namespace qvd::report
