// Runs a fixed set of requests through the reference host and prints every
// result as its bit pattern, so that two builds of the module (Linux and the
// Windows DLL under Wine) can be compared field by field:
//
//   qvdep_results_dump dump <module> <grunfeld.csv>  > results.txt
//   qvdep_results_dump math > math.txt       (the C runtime's log and cbrt)
//   qvdep_results_dump compare <a.txt> <b.txt>
//
// The panels come from a generator that uses only integer arithmetic and
// exact scaling (no library random distributions, whose results may differ
// between C++ runtimes), so both builds see the same bits.
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "analysis/input/csv_reader.h"
#include "analysis/layout/wide_panel.h"
#include "host/dependence_run.h"
#include "numeric/math_library.h"

namespace {

using qvd::host::Panel;
using qvd::host::TestOptions;

constexpr std::uint64_t kMissingInput = 0xFFFF000000000000ull;

// A double in [-1, 1) from 53 random bits, exactly.
double uniform(std::mt19937_64 &rng) {
  return std::ldexp(static_cast<double>(rng() >> 11), -52) - 1.0;
}

// y = 1 + 0.5 x1 - 0.25 x2 + e with a common factor in e (so the sections
// are correlated); every `hole`-th value missing when hole > 0.
Panel random_panel(int n, int t, int k, unsigned seed, int hole) {
  std::mt19937_64 rng(seed);
  Panel p{n, t, k, std::vector<double>(static_cast<std::size_t>(n) * t * (k + 1))};
  std::vector<double> factor(static_cast<std::size_t>(t));
  for (double &f : factor) f = uniform(rng);
  std::size_t at = 0;
  for (int i = 0; i < n; ++i)
    for (int s = 0; s < t; ++s) {
      double y = 1.0 + 0.5 * factor[static_cast<std::size_t>(s)];
      for (int v = 0; v < k; ++v) {
        const double x = 3.0 * uniform(rng);
        y = y + (v % 2 == 0 ? 0.5 : -0.25) * x;
        p.values[at++] = x;
      }
      p.values[at++] = y + uniform(rng);
    }
  if (hole > 0)
    for (std::size_t m = static_cast<std::size_t>(hole) * 3; m < p.values.size();
         m += static_cast<std::size_t>(hole) * 7 + 1)
      p.values[m] = std::bit_cast<double>(kMissingInput);
  return p;
}

struct Case {
  std::string name;
  Panel panel;
  TestOptions options;
};

std::vector<Case> cases(const std::string &grunfeld_csv) {
  std::vector<Case> all;
  const Panel grunfeld =
      qvd::analysis::make_wide_panel(
          qvd::analysis::read_csv_file(grunfeld_csv, {"firm", "year", "inv",
                                                      std::vector<std::string>{"value", "capital"}}))
          .panel;
  for (int order : {1, 2, 3, 9})
    all.push_back({"grunfeld_p" + std::to_string(order), grunfeld, {true, order, {}, {}}});
  // The value coefficient fixed at 0.1 (intercept column first).
  all.push_back({"grunfeld_restricted", grunfeld, {true, 2, {0.0, 1.0, 0.0}, {0.1}}});
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const int n = 5 + static_cast<int>(seed) * 3, t = 8 + static_cast<int>(seed) * 2;
    const int k = 1 + static_cast<int>(seed % 3);
    const int hole = seed % 2 == 0 ? 5 : 0;
    TestOptions options{seed % 3 != 0, static_cast<int>(seed % 4), {}, {}};
    if (seed >= 4) {  // the slopes summing to one, the first slope fixed at 0.5
      const int width = k + (options.intercept ? 1 : 0);
      const int first = options.intercept ? 1 : 0;
      std::vector<double> sum(static_cast<std::size_t>(width), 0.0);
      for (int s = first; s < width; ++s) sum[static_cast<std::size_t>(s)] = 1.0;
      options.restriction_coef = sum;
      options.restriction_rhs = {1.0};
      if (k >= 2) {
        std::vector<double> fix(static_cast<std::size_t>(width), 0.0);
        fix[static_cast<std::size_t>(first)] = 1.0;
        options.restriction_coef.insert(options.restriction_coef.end(), fix.begin(),
                                        fix.end());
        options.restriction_rhs.push_back(0.5);
      }
    }
    all.push_back({"random" + std::to_string(seed) + (hole ? "_unbalanced" : "_balanced"),
                   random_panel(n, t, k, seed, hole), options});
  }
  return all;
}

void print(const std::string &name, const char *field, double value) {
  std::printf("%s %s %016" PRIx64 "\n", name.c_str(), field,
              std::bit_cast<std::uint64_t>(value));
}

int dump(const std::string &module, const std::string &grunfeld_csv) {
  qvd::host::ReferenceHost host(module);
  for (const Case &c : cases(grunfeld_csv)) {
    const qvd::host::TestResults r = qvd::host::run_dependence_test(host, c.panel, c.options);
    std::printf("%s status %d\n", c.name.c_str(), static_cast<int>(r.outcome.status));
    for (std::uint32_t code : r.faults) std::printf("%s fault %08x\n", c.name.c_str(), code);
    const std::pair<const char *, double> fields[] = {
        {"lm", r.lm}, {"lm_pvalue", r.lm_pvalue}, {"scaled_lm", r.scaled_lm},
        {"scaled_lm_pvalue", r.scaled_lm_pvalue}, {"cd", r.cd},
        {"cd_pvalue", r.cd_pvalue}, {"cdp", r.cdp}, {"cdp_pvalue", r.cdp_pvalue}};
    for (const auto &[field, value] : fields) print(c.name, field, value);
    for (std::size_t j = 0; j < r.correlations.size(); ++j)
      print(c.name, ("correlation[" + std::to_string(j) + "]").c_str(), r.correlations[j]);
  }
  return 0;
}

// The module's logarithm and cube root (the C runtime's, behind the fault
// wrappers) on a fixed grid: 1 + i/512 times powers of two from 2^-1070 to
// 2^1020, both signs for the cube root. Every grid point is exact.
int math() {
  long index = 0;
  for (int e = -1070; e <= 1020; e += 10)
    for (int i = 0; i < 512; i += 3, ++index) {
      const double x = std::ldexp(1.0 + i / 512.0, e);
      char field[32];
      std::snprintf(field, sizeof field, "log[%ld]", index);
      print("math", field, qvd::lib_log(x));
      std::snprintf(field, sizeof field, "cbrt[%ld]", index);
      print("math", field, qvd::lib_cbrt(index % 2 == 0 ? x : -x));
    }
  return 0;
}

std::map<std::string, std::string> read_lines(const char *path) {
  std::map<std::string, std::string> lines;
  std::ifstream in(path);
  std::string name, field, value;
  while (in >> name >> field >> value) lines[name + " " + field] = value;
  return lines;
}

// Distance in units in the last place between two doubles of one sign.
double ulps_apart(double a, double b) {
  if (a == b) return 0.0;
  if (std::signbit(a) != std::signbit(b) || !std::isfinite(a) || !std::isfinite(b))
    return INFINITY;
  const auto ia = static_cast<std::int64_t>(std::bit_cast<std::uint64_t>(std::fabs(a)));
  const auto ib = static_cast<std::int64_t>(std::bit_cast<std::uint64_t>(std::fabs(b)));
  return static_cast<double>(ia > ib ? ia - ib : ib - ia);
}

// Fields agree bit for bit, or to rounding: within 64 ulps, or within
// 1e-13 absolutely for correlations and statistics near zero, where a
// rounding of the inputs is many ulps of the result.
int compare(const char *a_path, const char *b_path) {
  const auto a = read_lines(a_path), b = read_lines(b_path);
  if (a.empty() || a.size() != b.size()) {
    std::printf("outputs differ in their fields (%zu and %zu lines)\n", a.size(), b.size());
    return 1;
  }
  std::map<std::string, std::pair<long, long>> by_field;  // identical, total
  int failures = 0;
  double worst = 0.0;
  for (const auto &[key, value] : a) {
    const auto other = b.find(key);
    if (other == b.end()) { std::printf("missing in %s: %s\n", b_path, key.c_str()); return 1; }
    std::string field = key.substr(key.find(' ') + 1);
    field = field.substr(0, field.find('['));
    auto &count = by_field[field];
    ++count.second;
    if (value == other->second) { ++count.first; continue; }
    const bool numeric = value.size() == 16 && other->second.size() == 16;
    const double x = numeric ? std::bit_cast<double>(std::stoull(value, nullptr, 16)) : 0;
    const double y = numeric ? std::bit_cast<double>(std::stoull(other->second, nullptr, 16)) : 0;
    const double ulps = ulps_apart(x, y);
    worst = std::fmax(worst, ulps);
    const bool rounding = numeric && (ulps <= 64.0 || std::fabs(x - y) <= 1e-13);
    if (count.second - count.first <= 10 || !rounding)  // the first few of each field
      std::printf("%s: %s %s (%.17g %.17g, %.0f ulps)%s\n", key.c_str(), value.c_str(),
                  other->second.c_str(), x, y, ulps, rounding ? "" : "  NOT to rounding");
    failures += rounding ? 0 : 1;
  }
  for (const auto &[field, count] : by_field)
    std::printf("%-18s %ld of %ld bit-identical\n", field.c_str(), count.first, count.second);
  std::printf("largest difference: %.0f ulps; %d fields beyond rounding\n", worst, failures);
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "dump" && argc == 4) return dump(argv[2], argv[3]);
    if (mode == "compare" && argc == 4) return compare(argv[2], argv[3]);
    if (mode == "math" && argc == 2) return math();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "qvdep_results_dump: %s\n", e.what());
    return 2;
  }
  std::fprintf(stderr, "usage: qvdep_results_dump dump <module> <grunfeld.csv>\n"
                       "       qvdep_results_dump math\n"
                       "       qvdep_results_dump compare <a.txt> <b.txt>\n");
  return 2;
}
