// Hostile CSV files through the qvdep tool run as a process. Every file is
// made at test time from a recipe: truncated and ragged rows, binary noise,
// NUL bytes, huge fields, huge numbers of columns, unterminated quotes,
// quoted line breaks, byte-order marks, CR and CRLF line ends, a million
// rows of one cross-section. Each must give either exit status 2 with one
// short printable line naming the file and line, and no output file; or
// exit status 0 with the right result (the Grunfeld variants give exactly
// the Grunfeld figures), under a time limit that turns a hang into a
// failure.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/scratch.h"
#include "tool_process.h"

namespace qvd::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr std::size_t kLongestMessage = 400;

const std::string &grunfeld() {
  static const std::string text = slurp(kGrunfeld);
  return text;
}

std::string replace_all(std::string text, const std::string &from, const std::string &to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The Grunfeld file up to (not including) line `line`, 1-based.
std::string grunfeld_lines_before(int line) {
  std::size_t at = 0;
  for (int l = 1; l < line; ++l) at = grunfeld().find('\n', at) + 1;
  return grunfeld().substr(0, at);
}

// Grunfeld with every field quoted and each firm named "firm <n>,\nltd":
// commas, quotes and line breaks inside fields.
std::string grunfeld_quoted() {
  std::string out;
  std::string line;
  for (char ch : grunfeld()) {
    if (ch != '\n') {
      line += ch;
      continue;
    }
    if (line[0] != '"') {
      const std::size_t comma = line.find(',');
      line = "\"firm " + line.substr(0, comma) + ",\nltd \"\"" + line.substr(0, comma) + "\"\"\"," +
             "\"" + replace_all(line.substr(comma + 1), ",", "\",\"") + "\"";
    }
    out += line + "\n";
    line.clear();
  }
  return out;
}

std::string noise(std::size_t bytes, unsigned seed) {
  std::mt19937 rng(seed);
  std::string text(bytes, '\0');
  for (char &ch : text) ch = static_cast<char>(rng());
  return text;
}

std::string many_columns(int columns, int rows) {
  std::string text = "id,t";
  for (int c = 2; c < columns; ++c) text += ",v" + std::to_string(c);
  for (int r = 0; r < rows; ++r) {
    text += "\n" + std::to_string(r % 2) + "," + std::to_string(r / 2);
    for (int c = 2; c < columns; ++c) text += "," + std::to_string((r * 31 + c * 17) % 101);
  }
  return text + "\n";
}

// One cross-section over a million periods: y = 2 + 3x exactly at every
// tenth period, else y = 2 + 3x + e with e in {-1, 1}.
std::string million_rows() {
  std::string text = "id,t,y,x\n";
  text.reserve(24'000'000);
  char row[64];
  for (int t = 0; t < 1'000'000; ++t) {
    const int x = t % 1000, e = t % 10 == 0 ? 0 : (t % 3 == 0 ? 1 : -1);
    text.append(row, static_cast<std::size_t>(
                         std::snprintf(row, sizeof row, "a,%d,%d,%d\n", t, 2 + 3 * x + e, x)));
  }
  return text;
}

json grunfeld_json() {
  std::vector<std::string> args = kGrunfeldArgs;
  args.push_back(kGrunfeld);
  return run_json(args);
}

// The module's figures and the panel's shape of a run: what a variant of
// the same data must reproduce to the bit.
void expect_grunfeld(const json &j) {
  static const json reference = grunfeld_json();
  EXPECT_EQ(j.at("module"), reference.at("module"));
  EXPECT_EQ(j.at("panel"), reference.at("panel"));
  EXPECT_EQ(j.at("weighted_cd"), reference.at("weighted_cd"));
}

json json_of(const std::string &text) {
  return run_json({write_scratch("reference.csv", text).string()});
}

const std::string kSmall = "id,t,y,x\na,1,1,2\na,2,3,1\na,3,2,5\nb,1,4,1\nb,2,1,3\nb,3,2,2\nc,2,5,4\nc,3,3,3\n";

struct Case {
  const char *name;
  std::function<std::string()> make;
  std::vector<std::string> args;  // before the file
  int status;
  std::string message;                       // for status 2: part of the one line
  std::function<void(const json &)> check;  // for status 0
};

const std::string kFile = "in.csv";

std::vector<Case> cases() {
  const std::vector<std::string> g = kGrunfeldArgs;
  return {
      {"crlf", [] { return replace_all(grunfeld(), "\n", "\r\n"); }, g, 0, "", expect_grunfeld},
      {"bom_crlf", [] { return "\xEF\xBB\xBF" + replace_all(grunfeld(), "\n", "\r\n"); }, g, 0,
       "", expect_grunfeld},
      {"cr_only", [] { return replace_all(grunfeld(), "\n", "\r"); }, g, 0, "", expect_grunfeld},
      {"quoted_line_breaks", grunfeld_quoted, g, 0, "", expect_grunfeld},
      {"no_final_line_end_blank_lines",
       [] { return replace_all(grunfeld(), "\n1,1940,", "\n\n\n1,1940,").substr(0, grunfeld().size() + 1); },
       g, 0, "", expect_grunfeld},
      {"truncated_row", [] { return grunfeld_lines_before(102) + "6,1935"; }, g, 2,
       "in.csv:102: 2 fields where the header has 5", nullptr},
      {"extra_field", [] { return grunfeld_lines_before(7) + "1,1940,1,2,3,4\n"; }, g, 2,
       "in.csv:7: 6 fields where the header has 5", nullptr},
      {"unterminated_quote", [] { return grunfeld() + "\"11,1935,1,2,3\n"; }, g, 2,
       "in.csv:202: a quoted field is not closed", nullptr},
      {"nul_in_value", [] { return grunfeld_lines_before(9) + std::string("1,1942,3\0" "1,2,3\n", 15); },
       g, 2, "in.csv:9:3: column \"inv\": not a number: \"3\\x001\"", nullptr},
      {"nul_in_header", [] { return std::string("firm,ye\0ar,inv\n1,1,2\n", 22); }, {"--time", "year"},
       2, "in.csv:1: no column named \"year\"", nullptr},
      {"line_break_in_number", [] { return grunfeld_lines_before(4) + "1,1938,\"1\n2\",1,1\n"; }, g,
       2, "in.csv:4:3: column \"inv\": not a number: \"1\\n2\"", nullptr},
      {"sign_twice", [] { return grunfeld_lines_before(4) + "1,1938,+-1,1,1\n"; }, g, 2,
       "in.csv:4:3: column \"inv\": not a number: \"+-1\"", nullptr},
      {"underflow_rounds_to_zero", [] { return kSmall + "c,1,1e-400,-1e-999\n"; }, {}, 0, "",
       [](const json &j) { EXPECT_EQ(j.at("module"), json_of(kSmall + "c,1,0,0\n").at("module")); }},
      {"huge_number", [] { return "id,t,y\n1,1," + std::string(4'000'000, '7') + "\n"; }, {}, 2,
       "in.csv:2:3: column \"y\": not a finite number: \"7777777", nullptr},
      {"huge_text_field", [] { return "id,t,y\n1,1,\"" + std::string(4'000'000, 'z') + "\"\n"; }, {},
       2, "in.csv:2:3: column \"y\": not a number: \"zzzzzzz", nullptr},
      {"huge_label",
       [] {
         const std::string a(4'000'000, 'a');
         return "id,t,y\n" + a + ",1,1\n" + a + ",2,3\n" + a + ",3,2\nb,1,2\nb,2,5\nb,3,1\n";
       },
       {},
       0, "", [](const json &j) { EXPECT_EQ(j["panel"]["cross_sections"], 2); }},
      {"huge_header_unknown_column", [] { return many_columns(200'000, 1); }, {"--y", "nope"}, 2,
       "in.csv:1: no column named \"nope\" for the dependent variable (columns: id, t, v2,", nullptr},
      {"huge_number_of_columns", [] { return many_columns(200'000, 2); }, {}, 2,
       "in.csv: the model is too large for the module", nullptr},
      {"more_coefficients_than_periods", [] { return many_columns(12'000, 4); }, {}, 2,
       "in.csv: the model has 11998 free coefficients but the panel only 2 periods", nullptr},
      {"binary_noise", [] { return noise(1 << 20, 1); }, {}, 2, "in.csv:", nullptr},
      {"noise_after_header", [] { return "id,t,y\n" + noise(1 << 20, 2); }, {}, 2, "in.csv:",
       nullptr},
      {"million_rows_of_one_cross_section", million_rows, {"--id", "id"}, 2,
       "in.csv: the panel has 1 cross-section, and a test needs a pair of them", nullptr},
  };
}

TEST(HostileCsv, ClearErrorAndNoFileOrTheRightResult) {
  const fs::path table = scratch() / "rho.csv", picture = scratch() / "rho.svg";
  for (const Case &c : cases()) {
    SCOPED_TRACE(c.name);
    fs::remove(table);
    fs::remove(picture);
    const fs::path in = write_scratch(kFile, c.make());
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--format", "json", "--correlations", table.string(), "--heatmap",
                             picture.string(), in.string()});
    const ProcessRun run = qvdep(args);
    EXPECT_EQ(run.status, c.status) << run.err.substr(0, kLongestMessage);
    if (run.status != c.status) continue;
    if (c.status == 0) {
      EXPECT_TRUE(fs::exists(table));
      EXPECT_TRUE(fs::exists(picture));
      c.check(json::parse(run.out));
      continue;
    }
    EXPECT_TRUE(run.out.empty());
    EXPECT_FALSE(fs::exists(table));
    EXPECT_FALSE(fs::exists(picture));
    // One short line of printable text naming the file.
    EXPECT_LE(run.err.size(), kLongestMessage) << run.err.substr(0, kLongestMessage);
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err.substr(0, kLongestMessage);
    EXPECT_TRUE(std::all_of(run.err.begin(), run.err.end() - 1, [](char ch) {
      return static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F;
    })) << run.err.substr(0, kLongestMessage);
    const std::string expected = "qvdep: " + scratch().string() + "/" + c.message;
    EXPECT_EQ(run.err.substr(0, expected.size()), expected) << run.err.substr(0, kLongestMessage);
  }
}

}  // namespace
}  // namespace qvd::testing
