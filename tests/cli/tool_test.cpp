// The qvdep tool run as a user runs it: a process with arguments, a CSV
// file in, a report, JSON object and files out. The figures are checked
// against the module driven directly through the reference host with
// hand-built requests, against the independent LAPACK/Boost reference of
// the end-to-end tests, and against published Grunfeld figures.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "decoded_png.h"
#include "tool_process.h"
#include "pipeline_reference.h"
#include "support/packed_index.h"
#include "support/scratch.h"

namespace qvd::e2e {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using namespace testing;  // the tool as a process, its scratch files

// The panel in long format: columns id, t, y, x1..xK; periods written as
// 1990 + 3t in shuffled row order (each section's first row kept in section
// order, which fixes the panel order); missing cells as "", NA or "."; rows
// with nothing present left out, except those of the first section and the
// first period, which keep every section and period in the file.
std::string long_csv(const host::Panel &panel, const std::vector<std::string> &labels,
                     std::mt19937_64 &rng) {
  const int n = panel.sections, t = panel.periods, k = panel.regressors;
  static const char *const kMissing[] = {"", "NA", "."};
  std::vector<std::string> rows;
  std::string text = "id,t,y";
  for (int v = 0; v < k; ++v) text += ",x" + std::to_string(v + 1);
  text += "\n";
  int cell = 0;
  auto field = [&](double v) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return marked_missing(v) ? std::string(kMissing[cell++ % 3]) : std::string(buffer);
  };
  std::string firsts;
  for (int i = 0; i < n; ++i)
    for (int p = 0; p < t; ++p) {
      const double *o = panel.values.data() + (static_cast<std::size_t>(i) * t + p) * (k + 1);
      bool any = false;
      for (int v = 0; v <= k; ++v) any = any || !marked_missing(o[v]);
      if (!any && i > 0 && p > 0) continue;
      std::string row = "\"" + labels[static_cast<std::size_t>(i)] + "\"," +
                        std::to_string(1990 + 3 * p) + "," + field(o[k]);
      for (int v = 0; v < k; ++v) row += "," + field(o[v]);
      if (p == 0) firsts += row + "\n";
      else rows.push_back(row);
    }
  std::shuffle(rows.begin(), rows.end(), rng);
  text += firsts;
  for (const auto &r : rows) text += r + "\n";
  return text;
}

std::vector<std::string> labels_for(int n) {
  std::vector<std::string> labels;
  for (int i = 0; i < n; ++i) labels.push_back("s" + std::to_string((i * 7919) % 1000) + ", ltd");
  return labels;
}

// The module's fields as the tool's JSON reports them, against a direct run.
void expect_module_fields(const json &j, const host::TestResults &r) {
  const json &m = j.at("module");
  const double direct[] = {r.lm,        r.scaled_lm,        r.scaled_lm_pvalue, r.cd,
                           r.cd_pvalue, r.cdp,              r.cdp_pvalue};
  const char *names[] = {"lm", "scaled_lm", "scaled_lm_pvalue", "cd", "cd_pvalue", "cdp",
                         "cdp_pvalue"};
  for (int f = 0; f < 7; ++f) EXPECT_EQ(m.at(names[f]).get<double>(), direct[f]) << names[f];
  if (marked_missing(r.lm_pvalue)) {
    EXPECT_TRUE(m.at("lm_pvalue").is_null());
  } else {
    EXPECT_EQ(m.at("lm_pvalue").get<double>(), r.lm_pvalue);
  }
  EXPECT_EQ(m.at("near_perfect_fit").get<bool>(), r.near_perfect_fit);
}

TEST(Tool, GrunfeldReportAndJsonGiveThePublishedFigures) {
  std::vector<std::string> args = kGrunfeldArgs;
  args.push_back(kGrunfeld);
  const ProcessRun report = qvdep(args);
  ASSERT_EQ(report.status, 0) << report.err;
  for (const char *printed : {"97.617948", "chi2(45)", "9.3182e-06", "5.546419", "1.4579e-08",
                              "5.340053", "9.29194e-08", "3.963275", "7.39287e-05",
                              "45 usable, 0 could not", "200 complete of 200"})
    EXPECT_NE(report.out.find(printed), std::string::npos) << printed << "\n" << report.out;

  const json j = run_json(args);
  const struct {
    const char *name;
    double published, last_place;
  } figures[] = {{"lm", 97.617948, 1e-6},       {"lm_pvalue", 9.318204e-06, 1e-12},
                 {"scaled_lm", 5.546419, 1e-6}, {"scaled_lm_pvalue", 1.458e-08, 1e-11},
                 {"cd", 5.340053, 1e-6},        {"cd_pvalue", 9.291941e-08, 1e-14},
                 {"cdp", 3.963275, 1e-6},       {"cdp_pvalue", 7.393e-05, 1e-8}};
  for (const auto &f : figures)
    EXPECT_LE(std::fabs(j["module"][f.name].get<double>() - f.published), 0.5 * f.last_place)
        << f.name;
  EXPECT_EQ(j["panel"]["cross_sections"], 10);
  EXPECT_EQ(j["panel"]["usable_pairs"], 45);
  EXPECT_NEAR(j["tests"][0]["p_value"].get<double>(), j["module"]["lm_pvalue"].get<double>(),
              1e-10 * j["module"]["lm_pvalue"].get<double>());
  EXPECT_EQ(j["tests"][0]["p_value_source"], "tool");

  // Restricted, the scaled LM's upper tail is 0 in the module's 1 - Phi;
  // the module's field keeps its 0, the report the tail itself.
  args.insert(args.begin(), {"--restrict", "value + capital = 0.2", "--restrict",
                             "2*value - capital = 0"});
  EXPECT_NE(qvdep(args).out.find("N(0,1) upper tail   7.10355e-52"), std::string::npos);
  EXPECT_EQ(run_json(args)["module"]["scaled_lm_pvalue"].get<double>(), 0.0);
}

// Upper tail of chi-square with even df = 2k: P(Poisson(x/2) <= k - 1),
// summed term by term in long double.
long double poisson_tail(double x, long k) {
  const long double lambda = x / 2.0L;
  long double sum = 0;
  for (long j = 0; j < k; ++j)
    sum += std::exp(-lambda + j * std::log(lambda) - std::lgamma(static_cast<long double>(j) + 1));
  return sum;
}

// Every test row's p-value is formed from its statistic with the tail's
// relative precision (against glibc's long double erfcl and a Poisson sum),
// the module's own p-values stay under "module", and a tail past 1e-300 is
// printed as the bound, in the report and the density legend alike.
TEST(Tool, PValuesComeFromTheStatisticsToTheFarTail) {
  std::mt19937_64 rng(31);
  for (double loading : {0.45, 20.0}) {
    SCOPED_TRACE(loading);
    const host::Panel panel = random_panel(rng, {12, 40, 1, true, loading, 0.0, false, 0});
    const fs::path csv = write_scratch("tails.csv", long_csv(panel, labels_for(12), rng));
    const fs::path density = scratch() / "tails.svg";
    const std::vector<std::string> args = {"--id", "id", "--time", "t", "--y", "y", "--unbalanced",
                                           "--density", density.string(), csv.string()};
    const json j = run_json(args);
    host::TestOptions options;
    const host::TestResults direct = host::run_dependence_test(module_host(), panel, options);
    ASSERT_TRUE(direct.ok());
    expect_module_fields(j, direct);
    int far = 0;
    for (const json &row : j["tests"]) {
      // The rank tests' tails are held to quadrature in strength_test.
      if (row.contains("not_available") || row["kind"] == "friedman" || row["kind"] == "frees")
        continue;
      const std::string dist = row["distribution"];
      const long double z = row["statistic"].get<double>();
      const long double want =
          dist == "chi2(66)"             ? poisson_tail(row["statistic"].get<double>(), 33)
          : dist == "N(0,1) upper tail" ? erfcl(z / std::sqrt(2.0L)) / 2
                                         : erfcl(std::fabs(z) / std::sqrt(2.0L));
      ASSERT_TRUE(dist == "chi2(66)" || dist.rfind("N(0,1)", 0) == 0) << dist;
      EXPECT_EQ(row["p_value_source"], "tool") << row["name"];
      if (want < 1e-300L) {
        ++far;
        EXPECT_LE(row["p_value"].get<double>(), 1e-300) << row["name"];
      } else {
        EXPECT_LE(std::fabs(row["p_value"].get<double>() - want), 1e-13L * want) << row["name"];
      }
    }
    const ProcessRun report = qvdep(args);
    const bool strong = loading > 1;
    EXPECT_EQ(far > 0, strong);
    EXPECT_EQ(report.out.find("< 1e-300") != std::string::npos, strong) << report.out;
    EXPECT_EQ(slurp(density).find("p &lt; 1e-300") != std::string::npos, strong);
    EXPECT_EQ(slurp(density).find("p = &lt;"), std::string::npos);
  }
}

// The JSON of the example in docs/output.md is what the tool prints: every figure to
// the bit but those that come from the tools' LAPACK calls (LM_adj, CD* and
// CD*'s scale w), which follow the kernels OpenBLAS picks for the processor
// and may differ from one processor to another in their last bits; those
// within 1e-12 of their size. A BLAS preloaded ahead of the tool, whose
// every routine stops the process, answers none of its calls (the module's
// daxpy and the tools' LAPACK are linked in) and changes no bit.
TEST(Tool, ExampleJsonIsTheDocumentedOneWhateverBlasTheProcessLoads) {
  const std::string readme =
      slurp(fs::path(QVDEP_EXAMPLES_DIR).parent_path() / "docs" / "output.md");
  const std::size_t start = readme.find("```json\n") + 8;
  ASSERT_NE(start, std::string::npos + 8);
  json documented = json::parse(readme.substr(start, readme.find("```", start) - start));
  std::vector<std::string> args = kGrunfeldArgs;
  args.push_back(kGrunfeld);
  json printed = run_json(args);
  printed["source"] = documented["source"];
  json kernel_bound = documented;
  auto within_tolerance = [](json &doc, const json &got) {
    EXPECT_NEAR(doc.get<double>(), got.get<double>(), 1e-12 * std::fabs(got.get<double>()));
    doc = got;
  };
  within_tolerance(kernel_bound["cd_star_w"], printed["cd_star_w"]);
  for (std::size_t r = 0; r < printed["tests"].size(); ++r) {
    const json &row = printed["tests"][r];
    if (row["kind"] == "cd_star" || row["kind"] == "bias_adjusted_lm")
      for (const char *field : {"statistic", "p_value"})
        within_tolerance(kernel_bound["tests"][r][field], row[field]);
  }
  EXPECT_EQ(printed, kernel_bound);
  EXPECT_EQ(printed["module"], documented["module"]);

  // A sanitized tool would refuse a library loaded ahead of its runtime.
  const std::string asan = std::getenv("ASAN_OPTIONS");  // set by qvdep() if it was not
  setenv("ASAN_OPTIONS", (asan + ":verify_asan_link_order=0").c_str(), 1);
  setenv("LD_PRELOAD", QVDEP_DECOY_BLAS, 1);
  json decoyed = run_json(args);
  unsetenv("LD_PRELOAD");
  setenv("ASAN_OPTIONS", asan.c_str(), 1);
  decoyed["source"] = documented["source"];
  EXPECT_EQ(decoyed, printed);
}

// An unbalanced panel with missing cells and absent rows, read from CSV,
// against the same panel laid out by hand: the module's fields bit for bit.
TEST(Tool, UnbalancedCsvPanelMatchesTheHandBuiltRequest) {
  std::mt19937_64 rng(71);
  for (int round = 0; round < 3; ++round) {
    PanelShape shape{7 + 4 * round, 12 + round, 1 + round % 2, true, 0.7, 0.08, true, 0};
    const host::Panel panel = random_panel(rng, shape);
    // The last round's file starts with a UTF-8 byte-order mark, as
    // spreadsheets write it.
    const fs::path csv = write_scratch("unbalanced.csv", (round == 2 ? "\xEF\xBB\xBF" : "") +
                                                     long_csv(panel, labels_for(shape.sections), rng));
    host::TestOptions options;
    options.cdp_order = 1 + round;
    const host::TestResults direct = host::run_dependence_test(module_host(), panel, options);
    ASSERT_TRUE(direct.ok());
    const json j = run_json({"--id", "id", "--time", "t", "--y", "y", "--order",
                             std::to_string(options.cdp_order), csv.string()});
    expect_module_fields(j, direct);
  }
}

TEST(Tool, RestrictionsFromTextMatchArraysWrittenByHand) {
  std::mt19937_64 rng(5);
  const host::Panel panel = random_panel(rng, {9, 15, 2, true, 0.5, 0.0, false, 0});
  const fs::path csv = write_scratch("restricted.csv", long_csv(panel, labels_for(9), rng));
  const struct {
    std::vector<std::string> text;
    std::vector<double> coef, rhs;  // rows of (const, x1, x2)
  } cases[] = {
      {{"x1 + x2 = 0.2"}, {0, 1, 1}, {0.2}},
      {{"2*x1 - x2 = 0"}, {0, 2, -1}, {0}},
      {{"const = 1.5*x2 - 3"}, {1, 0, -1.5}, {-3}},
      {{"x1 = 0.5", "-const + 2 x2 + 1 = x1 - 4e-1"}, {0, 1, 0, -1, -1, 2}, {0.5, -1.4}},
  };
  for (const auto &c : cases) {
    host::TestOptions options;
    options.restriction_coef = c.coef;
    options.restriction_rhs = c.rhs;
    const host::TestResults direct = host::run_dependence_test(module_host(), panel, options);
    ASSERT_TRUE(direct.ok());
    std::vector<std::string> args = {"--id", "id", "--time", "t", "--y", "y"};
    for (const auto &t : c.text) {
      args.push_back("--restrict");
      args.push_back(t);
    }
    args.push_back(csv.string());
    SCOPED_TRACE(c.text.back());
    expect_module_fields(run_json(args), direct);
  }
}

std::vector<std::vector<std::string>> read_csv_cells(const std::string &text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (char ch : line) {
      if (ch == '"') quoted = !quoted;
      else if (ch == ',' && !quoted) cells.emplace_back();
      else cells.back() += ch;
    }
    rows.push_back(cells);
  }
  return rows;
}

// The correlation table, the averages and the weighted CD against the
// LAPACK reference; the weighted CD also against the module's own CD on the
// panel whose cross-sections are multiplied by the reported signs.
TEST(Tool, CorrelationTableAveragesAndWeightedCdAgainstIndependentReferences) {
  std::mt19937_64 rng(11);
  host::Panel panel = random_panel(rng, {12, 14, 1, true, 1.0, 0.05, false, 0});
  for (int p = 0; p < panel.periods; ++p) panel.values[(3 * 14 + p) * 2 + 1] = 4.0;  // flat: unusable
  const std::vector<std::string> labels = labels_for(12);
  const fs::path csv = write_scratch("table.csv", long_csv(panel, labels, rng));
  const fs::path table = scratch() / "rho.csv";
  const json j = run_json({"--id", "id", "--time", "t", "--y", "y", "--seed", "99",
                           "--correlations", table.string(), csv.string()});
  host::TestOptions options;
  const ReferenceResults ref = reference_test(panel, options);

  const auto cells = read_csv_cells(slurp(table));
  ASSERT_EQ(cells.size(), 13u);
  long double sum = 0, sum_abs = 0;
  long usable = 0;
  for (int i = 0; i < 12; ++i) {
    EXPECT_EQ(cells[0][static_cast<std::size_t>(i) + 1], labels[static_cast<std::size_t>(i)]);
    EXPECT_EQ(cells[static_cast<std::size_t>(i) + 1][0], labels[static_cast<std::size_t>(i)]);
    for (int k = 0; k < 12; ++k) {
      const std::string &cell = cells[static_cast<std::size_t>(i) + 1][static_cast<std::size_t>(k) + 1];
      if (i == k) {
        EXPECT_EQ(cell, "1");
        continue;
      }
      const std::size_t at = packed(std::min(i, k), std::max(i, k));
      ASSERT_EQ(cell.empty(), !ref.usable[at]) << i << "," << k;
      if (cell.empty()) continue;
      EXPECT_NEAR(std::stod(cell), ref.correlations[at], 1e-10);
      if (i < k) {
        sum += ref.correlations[at];
        sum_abs += std::fabs(ref.correlations[at]);
        ++usable;
      }
    }
  }
  EXPECT_EQ(j["panel"]["usable_pairs"], usable);
  EXPECT_EQ(j["panel"]["unusable_pairs"], 66 - usable);
  EXPECT_GT(66 - usable, 10);
  EXPECT_NEAR(j["average_correlation"].get<double>(), static_cast<double>(sum / usable), 1e-12);
  EXPECT_NEAR(j["average_abs_correlation"].get<double>(), static_cast<double>(sum_abs / usable),
              1e-12);

  const std::vector<int> signs = j["weighted_cd_signs"].get<std::vector<int>>();
  ASSERT_EQ(signs.size(), 12u);
  host::Panel flipped = panel;
  for (std::size_t v = 0; v < flipped.values.size(); ++v)
    if (!marked_missing(flipped.values[v])) flipped.values[v] *= signs[v / (14 * 2)];
  const host::TestResults r = host::run_dependence_test(module_host(), flipped, options);
  ASSERT_TRUE(r.ok());
  EXPECT_NEAR(j["weighted_cd"].get<double>(), r.cd, 1e-12 * (1 + std::fabs(r.cd)));
  EXPECT_NEAR(j["weighted_cd_pvalue"].get<double>(), r.cd_pvalue, 1e-12);
}

TEST(Tool, LmTailWhereTheModuleReturnsItMissing) {
  const int n = 600;  // residuals (cos a_i, sin a_i): LM just below its mean
  std::string text = "id,t,y\n";
  for (int i = 0; i < n; ++i) {
    const double a = i * std::numbers::pi / n;
    char row[96];
    std::snprintf(row, sizeof row, "%d,1,%.17g\n%d,2,%.17g\n", i, std::cos(a), i, std::sin(a));
    text += row;
  }
  const fs::path csv = write_scratch("large.csv", text);
  const std::vector<std::string> args = {"--no-intercept", "--x", "", csv.string()};
  const json j = run_json(args);
  ASSERT_TRUE(j["module"]["lm_pvalue"].is_null());
  EXPECT_TRUE(j["module"]["lm_pvalue_missing"].get<bool>());
  EXPECT_EQ(j["tests"][0]["p_value_source"], "tool");
  const double lm = j["module"]["lm"].get<double>();
  const double expected = static_cast<double>(poisson_tail(lm, n * (n - 1) / 4));
  EXPECT_NEAR(j["lm_pvalue_tool"].get<double>(), expected, 1e-10 * expected);
  EXPECT_EQ(j["tests"][0]["p_value"], j["lm_pvalue_tool"]);
}

TEST(Tool, BadInputGetsOneLineExitStatusAndNoFile) {
  std::string too_many = "id,t,y\n";
  for (int i = 0; i < 46341; ++i) too_many += std::to_string(i) + ",1,1\n";
  std::string diagonal = "id,t,y,x\n";
  for (int i = 0; i < 300; ++i) diagonal += std::to_string(i) + "," + std::to_string(i) + ",1,2\n";
  const struct {
    std::string text;
    std::vector<std::string> args;
    const char *message;
    int status;
  } cases[] = {
      {"id,t,y\n1,1,2\n", {"--y", "z"}, "in.csv:1: no column named \"z\"", 2},
      {"id,t,y,x\n1,1,2,3\n1,2,abc,4\n", {}, "in.csv:3:3: column \"y\": not a number: \"abc\"", 2},
      {"id,t,y,x\n1,1,2,3\n1,2,4,nan\n", {}, "in.csv:3:4: column \"x\": not a finite number", 2},
      {"id,t,y,x\n1,1,2,3\n1,2,4,-inf\n", {}, "not a finite number: \"-inf\"", 2},
      {"id,t,y,x\n1,1,2,3\n1,2,4,1e999\n", {}, "in.csv:3:4: column \"x\": not a finite", 2},
      {"id,t,y\n1,1,2\n2,1,3\n1,1.0,4\n", {}, "in.csv:4: duplicate (id, t) pair (1, 1.0), first given at", 2},
      {"", {}, "in.csv: the file is empty", 2},
      {"id,t,y\n\n", {}, "in.csv: the file has a header but no data rows", 2},
      {"id,t,y\n1,1,2\n1,2\n", {}, "in.csv:3: 2 fields where the header has 3", 2},
      {"id,t,y\n1,1,\"2\n", {}, "a quoted field is not closed", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--restrict", "x = "}, "restriction \"x = \": expected a number", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--restrict", "x + w = 1"}, "unknown variable \"w\"", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--restrict", "x + 1 = x"}, "involves no coefficient", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--no-intercept", "--restrict", "const = 1"}, "has none", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--order", "0"}, "--order", 2},
      {too_many, {}, "too large for the module: 46341 cross-sections", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--cdw-draws", "0"}, "needs 1 or more draws, not 0", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--cdw-draws", "-3"}, "needs 1 or more draws, not -3", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--factors", "-1"}, "CD* takes 1 or more factors", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--exponent-size", "0"}, "size p must be in (0, 1), not 0", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--exponent-size", "1"}, "size p must be in (0, 1), not 1", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--exponent-tuning", "0"}, "delta must be in (0, 1], not 0", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--exponent-tuning", "1.5"}, "must be in (0, 1], not 1.5", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--exponent-draws", "0"}, "takes 1 or more draws, not 0", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--exponent-draws", "-1"}, "takes 1 or more draws, not -1", 2},
      {"id,t,y,x\n1,1,2,3\n2,1,3,4\n1,2,2,5\n2,2,3,1\n", {"--factors", "2", "--x", ""},
       "CD*: p = 2 factors need more than p cross-sections and periods (2 and 2)", 2},
      {"id,t,y,x\n1,1,2,3\n", {"--max-memory", "12Q"}, "not a memory size: \"12Q\"", 2},
      // A large panel is asked about its columns only when its rows leave
      // it nearly empty (each row a new id and period here).
      {"id,t,y,x\n1,1,2,3\n", {"--max-memory", "10"}, "above the 10 bytes memory budget\n", 2},
      {diagonal, {"--max-memory", "1M"}, "memory budget; are \"id\" and \"t\"", 2},
      {"id,t,y\n1,1950,2\n1,1950a,3\n2,1950,4\n",
       {}, "in.csv:3:2: column \"t\": period \"1950a\" is not a number, but 1 other period is", 2},
      {"id,t,y,x\na,1,1e200,2e200\na,2,3e200,3e200\na,3,1e200,4e200\nb,1,1,2\nb,2,2,3\n",
       {}, "floating-point fault during the test", 3},
  };
  const fs::path table = scratch() / "bad.csv", picture = scratch() / "bad.svg";
  for (const auto &c : cases) {
    const fs::path in = write_scratch("in.csv", c.text);
    std::vector<std::string> args = c.args;
    for (const char *a : {"--correlations", table.c_str(), "--heatmap", picture.c_str()})
      args.push_back(a);
    args.push_back(in.string());
    const ProcessRun run = qvdep(args);
    SCOPED_TRACE(c.message);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fs::exists(table));
    EXPECT_FALSE(fs::exists(picture));
  }
}

// Model options that do not fit, and proximity matrices plm refuses (or
// that name what the panel has not): one line naming the option or the
// file's place, status 2, no report.
TEST(Tool, ModelOptionsAndNeighboursThatDoNotFitAreRefused) {
  std::string panel = "id,t,y,x\n";
  for (const char *id : {"a", "b", "c"})
    for (int t = 0; t < 6; ++t)
      panel += std::string(id) + "," + std::to_string(t) + "," +
               std::to_string((t * 7 + *id) % 5) + "," + std::to_string((t * 3 + *id) % 4) + "\n";
  const std::string in = write_scratch("models.csv", panel).string();
  const std::string w = (scratch() / "w.csv").string();
  const struct {
    std::vector<std::string> args;
    std::string matrix;  // w.csv, given with --neighbours when not empty
    std::string message;
  } cases[] = {
      {{"--model", "fixed"}, "",
       "--model: no model \"fixed\"; choose unit, pooling, within, random, cce or none"},
      {{"--model", "within", "--effect", "both"}, "",
       "--effect: no effect \"both\"; choose individual, time or twoways"},
      {{"--effect", "time"}, "", "an effect is chosen for the within and random models only (individual, time or "
       "twoways), not for model unit"},
      {{"--model", "pooling", "--effect", "individual"}, "", "not for model pooling"},
      {{"--model", "cce", "--effect", "twoways"}, "", "not for model cce"},
      {{"--model", "none", "--effect", "time"}, "", "not for model none"},
      {{"--model", "random", "--restrict", "x = 1"}, "",
       "restrictions constrain each cross-section's own regression (model unit), not model "
       "random"},
      {{"--model", "pooling"}, ",a,b\na,0,1\nb,1,0\n",
       "w.csv:1: the header names 2 columns of cross-sections; the panel has 3"},
      {{"--model", "within"}, "from,to\na,b\nd,c\n", "w.csv:3:1: \"d\" is not a cross-section"},
      {{"--model", "pooling"}, ",a,b,c\na,0,0,1\nb,1,0,0\nc,0,1,0\n",
       "w.csv:3:2: not zero below the diagonal, but zero above it at line 2, column 3"},
      {{"--model", "pooling"}, ",a,b,c\na,0,0,0\nb,0,0,0\nc,0,0,0\n",
       "w.csv: no pair of cross-sections is neighbours below the diagonal"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> args = c.args;
    if (!c.matrix.empty()) {
      write_scratch("w.csv", c.matrix);
      args.insert(args.end(), {"--neighbours", w});
    }
    args.push_back(in);
    const ProcessRun run = qvdep(args);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

// Grunfeld's two-way fixed effects model: plm's rows with LM_BC, which is
// the scaled LM less N / (2(T - 1)) on a balanced panel; no module fields;
// CD warned against after period effects.
TEST(Tool, TwoWayFixedEffectsGiveLmBcAndTheWarningAgainstCd) {
  std::vector<std::string> args = kGrunfeldArgs;
  args.insert(args.end(), {"--model", "within", "--effect", "twoways", kGrunfeld});
  const json j = run_json(args);
  EXPECT_EQ(j["options"]["model"], "within");
  EXPECT_EQ(j["options"]["effect"], "twoways");
  EXPECT_TRUE(j["options"]["neighbours"].is_null());
  EXPECT_TRUE(j["module"].is_null());
  std::map<std::string, json> rows;
  for (const json &row : j["tests"]) rows[row["kind"]] = row;
  ASSERT_TRUE(rows.count("bias_corrected_scaled_lm") && rows.count("scaled_lm"));
  EXPECT_NEAR(rows["bias_corrected_scaled_lm"]["statistic"].get<double>(),
              rows["scaled_lm"]["statistic"].get<double>() - 10.0 / (2 * 19), 1e-12);
  EXPECT_EQ(rows["lm"]["distribution"], "chi2(45)");
  EXPECT_TRUE(rows["bias_adjusted_lm"].contains("not_available"));
  ASSERT_EQ(j["warnings"].size(), 1u);
  const std::string warning = j["warnings"][0];
  for (const char *says :
       {"CD is no valid test", "Juodis and Reese 2022", "weighted CD, CDw+ or CD*"})
    EXPECT_NE(warning.find(says), std::string::npos) << warning;
  const std::string report = qvdep(args).out;
  for (const char *says :
       {"model:         within (twoways effects): fixed effects by firm and by year",
        "regression:    inv ~ value + capital", "Definitions of R's plm",
        "  bias-corrected scaled LM ", "(plm prints the two-sided p-value)"})
    EXPECT_NE(report.find(says), std::string::npos) << says << "\n" << report;
}

// A proximity matrix read from a file, its rows and columns in an order of
// their own: the band of order 2 so written gives the local rows the
// order 2 gives without it, to the bit; with model unit the module's CD(2)
// keeps its band and the unbalanced block's local rows are over the file.
TEST(Tool, NeighboursFromAFileAreTheBandTheyName) {
  const int ids[] = {7, 3, 10, 1, 5, 9, 2, 8, 4, 6};
  std::string matrix;
  for (int i : ids) matrix += "," + std::to_string(i);
  for (int i : ids) {
    matrix += "\n" + std::to_string(i);
    for (int k : ids) matrix += std::abs(i - k) >= 1 && std::abs(i - k) <= 2 ? ",1" : ",0";
  }
  const std::string w = write_scratch("band.csv", matrix + "\n").string();
  for (const bool unit : {false, true}) {
    SCOPED_TRACE(unit ? "unit" : "pooling");
    std::vector<std::string> args = kGrunfeldArgs;  // --order 2
    args.insert(args.end(), {unit ? "--unbalanced" : "--model=pooling", kGrunfeld});
    const json band = run_json(args);
    args.insert(args.end() - 1, {"--neighbours", w});
    const json named = run_json(args);
    EXPECT_EQ(named["options"]["neighbours"], w);
    std::map<std::string, json> by_band, by_file;
    for (const json &row : band["tests"]) by_band[row["kind"]] = row;
    for (const json &row : named["tests"]) by_file[row["kind"]] = row;
    const std::string local = unit ? "unbalanced_local_cd" : "local_cd";
    EXPECT_EQ(by_file[local]["statistic"], by_band[local]["statistic"]);
    EXPECT_EQ(by_file[local]["name"], unit ? "CD(w) (unbalanced)" : "CD(w)");
    EXPECT_EQ(by_file[unit ? "unbalanced_local_lm" : "local_lm"]["distribution"], "chi2(17)");
    EXPECT_EQ(by_file["local_cd"]["name"], unit ? "CD(2)" : "CD(w)");
    EXPECT_EQ(named["module"], band["module"]);  // null without the module
    EXPECT_NE(qvdep(args).out.find("neighbours:    " + w), std::string::npos);
  }
}

// Thin panels: a warning where some cross-sections are thin, exit 2 with
// the reason where nothing could be tested (the module would return zeros
// that read as a result).
TEST(Tool, ThinPanelsWarnOrAreRefused) {
  const struct {
    std::string text;
    std::vector<std::string> args;
    int status;
    const char *says;
  } cases[] = {
      {"id,t,y,x\na,1,1,2\na,2,2,3\na,3,2,5\n", {}, 2,
       "thin.csv: the panel has 1 cross-section, and a test needs a pair of them"},
      {"id,t,y,x\na,1,1,2\na,2,2,3\na,3,2,5\nb,1,1,1\nb,2,3,3\nc,1,4,1\nc,2,3,2\nc,3,1,1\n", {}, 0,
       "1 cross-section has no more complete periods than free coefficients (2)"},
      {"id,t,y,x\na,1,1,2\na,2,2,3\nb,1,1,1\nb,2,3,3\n", {}, 2,
       "the model has 2 free coefficients but the panel only 2 periods"},
      {"id,t,y,x\na,1,1,2\na,2,2,3\na,3,,\nb,1,1,1\nb,2,3,3\nb,3,,\n", {}, 2,
       "no cross-section has more complete periods (at most 2) than the 2 free coefficients"},
      // y a constant within each cross-section: every equation fits it.
      {"id,t,y,x\na,1,7,2\na,2,7,3\na,3,7,5\nb,1,4,1\nb,2,4,3\nb,3,4,2\n", {}, 2,
       "every cross-section's equation fits \"y\" exactly"},
      {"id,t,y,x\na,1,1,2\na,2,2,3\na,3,2,5\nb,1,1,1\nb,2,3,3\nb,3,4,2\n", {"--x", "x,y"}, 2,
       "the dependent variable \"y\" is also among the regressors"},
      {"id,t,y,x\na,1,1,2\na,2,2,3\na,3,2,5\nb,1,1,1\nb,2,3,3\nb,3,4,2\n", {"--x", "x,x"}, 2,
       "the regressor \"x\" is named twice"},
      {"id,t,y,x\na,1,1,2\na,2,2,3\na,3,2,5\nb,1,1,1\nb,2,3,3\nb,3,4,2\n", {}, 0,
       "2 cross-sections have fewer than 5 complete periods beyond the 2 free coefficients"},
  };
  for (const auto &c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back(write_scratch("thin.csv", c.text).string());
    const ProcessRun run = qvdep(args);
    EXPECT_EQ(run.status, c.status) << run.err;
    // A warning may run over lines, each after the first indented.
    std::string text = c.status == 0 ? run.out : run.err;
    for (std::size_t at; (at = text.find("\n    ")) != std::string::npos;) text.replace(at, 5, " ");
    EXPECT_NE(text.find(c.says), std::string::npos) << run.out << run.err;
  }
}

// Each picture option writes the format its file's name says, SVG or PNG,
// and refuses any other name with status 2 before reading the input.
TEST(Tool, PicturesRenderAndHelpAndVersionAnswer) {
  const fs::path picture = scratch() / "grunfeld.svg", density = scratch() / "density.svg";
  std::vector<std::string> args = kGrunfeldArgs;
  args.insert(args.end(),
              {"--heatmap", picture.string(), "--density", density.string(), kGrunfeld});
  ASSERT_EQ(qvdep(args).status, 0);
  for (const fs::path &svg : {picture, density}) {
    EXPECT_EQ(slurp(svg).substr(0, 5), "<?xml");
    const fs::path png = scratch() / (svg.stem().string() + ".png"),
                   tool_png = scratch() / (svg.stem().string() + "-tool.png");
    const ProcessRun render = run_process(QVDEP_RSVG_CONVERT, {svg.string(), "-o", png.string()});
    EXPECT_EQ(render.status, 0) << render.err;
    std::vector<std::string> as_png = kGrunfeldArgs;
    as_png.insert(as_png.end(), {svg == picture ? "--heatmap" : "--density", tool_png.string(),
                                 kGrunfeld});
    ASSERT_EQ(qvdep(as_png).status, 0);
    EXPECT_TRUE(decode_png(slurp(tool_png)).rgb == decode_png(slurp(png)).rgb) << svg;
  }
  for (const char *option : {"--heatmap", "--density"})
    for (const char *name : {"out.jpg", "out.svg.gz", "png"}) {
      const fs::path bad = scratch() / name;
      const ProcessRun run = qvdep({option, bad.string(), "/nonexistent.csv"});
      EXPECT_EQ(run.status, 2) << option << " " << name;
      EXPECT_NE(run.err.find("must end in .svg or .png"), std::string::npos) << run.err;
      EXPECT_FALSE(fs::exists(bad));
    }

  const ProcessRun help = qvdep({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char *option : {"--id", "--time", "--y", "--x", "--no-intercept", "--order",
                             "--restrict", "--seed", "--format", "--correlations", "--heatmap",
                             "--density", "--cdw-draws", "--factors", "--unbalanced",
                             "--max-memory", "--module", "--version", "--model", "--effect",
                             "--neighbours", "Examples",
                             // every test it reports
                             "Breusch-Pagan LM", "scaled LM", "Pesaran's CD", "local CD(p)",
                             "weighted CD", "CDw+", "bias-adjusted LM", "CD*(p)",
                             "unbalanced panels"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  const ProcessRun version = qvdep({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "qvdep 1.0.0\nmodule 1.0.0.1M0P04242019: release 1.0.0.1, maintenance "
                         "level M0P, built 04/24/2019\n");
}

// The Grunfeld heatmap, run as the README shows it from the project's
// directory, is the documented picture byte for byte.
TEST(Tool, GrunfeldHeatmapIsTheDocumentedPicture) {
  const fs::path project = fs::path(QVDEP_EXAMPLES_DIR).parent_path(), here = fs::current_path();
  const fs::path picture = scratch() / "documented.svg";
  std::vector<std::string> args = kGrunfeldArgs;
  args.insert(args.end(), {"--heatmap", picture.string(), "examples/grunfeld.csv"});
  fs::current_path(project);
  const ProcessRun run = qvdep(args);
  fs::current_path(here);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(slurp(picture) == slurp(project / "docs" / "grunfeld-correlations.svg"));
}

// The heatmap's colour of a correlation, worked out independently of the
// report library: linear in RGB from white (247,247,247) at 0 to
// (178,24,43) at +1 or (33,102,172) at -1; grey (189,189,189) for none.
std::vector<int> expected_colour(const std::string &field) {
  if (field.empty()) return {189, 189, 189};
  const double rho = std::stod(field), w = std::fabs(rho);
  const std::vector<double> end = rho < 0 ? std::vector<double>{33, 102, 172}
                                          : std::vector<double>{178, 24, 43};
  std::vector<int> rgb;
  for (double e : end) rgb.push_back(static_cast<int>(std::lround(247 + (e - 247) * w)));
  return rgb;
}

// The correlation table the tool writes, as its fields.
std::vector<std::vector<std::string>> table_fields(const fs::path &csv) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream text(slurp(csv));
  for (std::string line; std::getline(text, line);) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t comma; (comma = line.find(',', from)) != std::string::npos; from = comma + 1)
      fields.push_back(line.substr(from, comma - from));
    fields.push_back(line.substr(from));
    rows.push_back(fields);
  }
  return rows;
}

// The fill colours of a heatmap's squares, in the order drawn (row after
// row of the matrix).
std::vector<std::vector<int>> square_colours(const std::string &svg) {
  std::vector<std::vector<int>> colours;
  const std::size_t end = svg.find("</g>", svg.find("<g shape-rendering"));
  for (std::size_t at = svg.find("fill=\"#", svg.find("<g shape-rendering")); at < end;
       at = svg.find("fill=\"#", at + 1)) {
    const unsigned long rgb = std::stoul(svg.substr(at + 7, 6), nullptr, 16);
    colours.push_back({static_cast<int>(rgb >> 16), static_cast<int>((rgb >> 8) & 255),
                       static_cast<int>(rgb & 255)});
  }
  return colours;
}

// Heatmaps of panels from ten to four hundred cross-sections: the SVG's
// size is bounded, each pair (a square, or a pixel of the embedded image)
// has the colour of its correlation in the tool's own table, and FILE.png
// (any case) is the picture the SVG shows, as rsvg-convert renders it.
TEST(Tool, HeatmapsStayBoundedAndColourEveryPair) {
  std::mt19937_64 rng(23);
  std::normal_distribution<double> normal;
  for (int sections : {10, 300, 400}) {
    SCOPED_TRACE(sections);
    std::string text = "id,t,y,x0\n";
    for (int i = 0; i < sections; ++i)
      for (int t = 0; t < 8; ++t)
        text += std::to_string(i) + "," + std::to_string(t) + "," + std::to_string(normal(rng)) +
                "," + std::to_string(normal(rng)) + "\n";
    const fs::path csv = write_scratch("wide.csv", text), table = scratch() / "wide-rho.csv",
                   svg = scratch() / "wide.svg", png = scratch() / "wide.PNG",
                   rendered = scratch() / "wide-rendered.png";
    for (const fs::path &picture : {svg, png}) {
      const ProcessRun run = qvdep({"--id", "id", "--time", "t", "--y", "y", "--x", "x0",
                                    "--correlations", table.string(), "--heatmap",
                                    picture.string(), csv.string()});
      ASSERT_EQ(run.status, 0) << run.err;
    }
    const std::size_t n = static_cast<std::size_t>(sections);
    EXPECT_LE(fs::file_size(svg), 80'000 + n * n * 14 / 10);
    const ProcessRun render = run_process(QVDEP_RSVG_CONVERT, {svg.string(), "-o", rendered.string()});
    EXPECT_EQ(render.status, 0) << render.err;
    const DecodedPng theirs = decode_png(slurp(rendered)), mine = decode_png(slurp(png));
    ASSERT_TRUE(theirs.ok && mine.ok);
    ASSERT_EQ(mine.width, theirs.width);
    ASSERT_EQ(mine.height, theirs.height);
    EXPECT_TRUE(mine.rgb == theirs.rgb);

    const std::string drawn = slurp(svg);
    const DecodedPng image = decode_png(embedded_png(drawn));
    const std::vector<std::vector<int>> squares = square_colours(drawn);
    ASSERT_TRUE(n > 150 ? image.ok && image.width == n : squares.size() == n * n);
    const auto fields = table_fields(table);
    for (std::size_t i = 0; i < n; i += 7)
      for (std::size_t j = 0; j < n; j += 3) {
        const std::vector<int> want = expected_colour(fields[i + 1][j + 1]);
        const std::vector<int> got = n > 150 ? image.pixel(j, i) : squares[i * n + j];
        for (int k = 0; k < 3; ++k) ASSERT_LE(std::abs(got[k] - want[k]), 1) << i << "," << j;
      }
  }
}

}  // namespace
}  // namespace qvd::e2e
