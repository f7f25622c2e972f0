// The paths from a file or a DataFrame to a report, end to end, against the
// module's own run on the same panel measured in the same process run:
//
// - the panel: N = 2000 cross-sections, T = 250 periods, K = 4 regressors
//   with a common factor (factor_panel.h), no value missing, written to a
//   temporary directory as a long-format CSV file (long_csv.h);
// - module run: the whole test through the reference host on the panel as
//   the module reads it, in a process of its own (this program again, with
//   --module-run), just before and just after each path: the speed of a
//   shared machine wanders from one minute to the next, so each path's
//   ratio is to the faster of the two runs around it, not to one run
//   minutes apart;
// - CLI: build/qvdep on the file with a text report to /dev/null, and again
//   writing the correlation table and the heatmap as well;
// - CSV reader: qvd::analysis::read_csv_file on the file, in process, as MB/s;
// - Python: qvdep.cdtest on the DataFrame pandas read (untimed) and on the
//   same values as an (N, T, K + 1) array, timed inside the interpreter
//   (end_to_end.py);
// - R: qvdep's cdtest on the data.frame read.csv read (untimed), timed
//   inside R (end_to_end.R), where R is installed and scripts/bench has
//   installed the package into the build tree's r-library;
// - memory: the CLI's peak resident memory against the analysis library's
//   own estimate analysis_bytes(N, T, K, K + 2) (intercept, no restriction);
// - an unbalanced panel: the same shape with each value missing with a
//   chance of 5 % (a quarter of the observations incomplete), the CLI's
//   text report against the module's run on that panel. Pesaran's
//   unbalanced block is reported there, and LM_adj and CD* are not.
//
//
// With --scale, a large panel (scripts/bench runs N = 10,000, T = 250,
// K = 2): the CLI's text report alone against the module's run, and its
// peak resident memory against the floor any analysis of the panel needs,
// the module's own buffers (whose packed correlations alone are 400 MB
// there) plus the dense panel.
//
// Every time is the best of three by the wall clock (another program can
// only be timed so), and printed with its ratio to the module's run and the
// target beside it. Programs are run before this one holds any large data,
// so their peak resident memory is their own (child_process.h).
//
//   qvdep_e2e_bench [N T K]     (default 2000 250 4)
//   qvdep_e2e_bench --scale N T K
//   qvdep_e2e_bench --module-run N T K MISSING_PERCENT
//       prints the best of three module runs on that panel in seconds, and
//       its CD statistic
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/input/csv_reader.h"
#include "analysis/layout/memory_budget.h"
#include "analysis/linalg/dot_products.h"
#include "analysis/linalg/tool_blas.h"

#include "child_process.h"
#include "factor_panel.h"
#include "long_csv.h"
#include "module_runs.h"

namespace {

constexpr int kRepeats = 3;

// Best of kRepeats wall-clock times of `call`, which returns false on
// failure; empty when any call failed.
std::optional<double> best_of(const std::function<bool()> &call) {
  double best = 0;
  for (int r = 0; r < kRepeats; ++r) {
    const auto start = std::chrono::steady_clock::now();
    if (!call()) return std::nullopt;
    const std::chrono::duration<double> s = std::chrono::steady_clock::now() - start;
    if (r == 0 || s.count() < best) best = s.count();
  }
  return best;
}

// The best of kRepeats runs of a program, and the highest peak resident
// memory among them.
struct ProgramTiming {
  std::optional<double> seconds;
  double peak_bytes = 0;
};

ProgramTiming time_program(const std::vector<std::string> &argv) {
  ProgramTiming t;
  t.seconds = best_of([&] {
    const ChildRun run = run_child(argv, "/dev/null");
    t.peak_bytes = std::max(t.peak_bytes, run.peak_bytes);
    return run.ok;
  });
  return t;
}

// A binding's entry points timed by its own script, which prints one line
// per entry point: its name, the seconds and the CD statistic ("first": the
// process's first call, timed apart).
struct ScriptTimings {
  std::map<std::string, double> seconds, cd;
  std::string failure;  // why there are none

  std::optional<double> seconds_of(const std::string &what) const { return find(seconds, what); }
  std::optional<double> cd_of(const std::string &what) const { return find(cd, what); }

 private:
  static std::optional<double> find(const std::map<std::string, double> &m, const std::string &k) {
    const auto at = m.find(k);
    return at == m.end() ? std::nullopt : std::optional(at->second);
  }
};

// Runs `script` under `interpreter` on the panel's file, its output in
// `dir`; `missing` says why it cannot run, if it cannot.
ScriptTimings time_script(const std::filesystem::path &dir, const std::string &interpreter,
                          const std::string &script, const std::string &csv, int n, int t, int k,
                          const std::vector<std::pair<std::string, std::string>> &environment,
                          const std::string &missing) {
  ScriptTimings timings;
  if (!missing.empty()) {
    timings.failure = missing;
    return timings;
  }
  const std::string out = (dir / "script.out").string();
  const ChildRun run = run_child(
      {interpreter, std::string(QVDEP_BENCH_SOURCE_DIR "/") + script, csv, std::to_string(n),
       std::to_string(t), std::to_string(k), std::to_string(kRepeats)},
      out, environment);
  if (!run.ok) {
    timings.failure = "failed";
    return timings;
  }
  std::ifstream in(out);
  std::string what;
  double seconds, cd;
  while (in >> what >> seconds >> cd) {
    timings.seconds[what] = seconds;
    timings.cd[what] = cd;
  }
  return timings;
}

ScriptTimings time_python(const std::filesystem::path &dir, const std::string &csv, int n, int t,
                          int k) {
  const bool built = std::filesystem::exists(std::filesystem::path(QVDEP_PYTHON_DIR) / "qvdep");
  return time_script(dir, QVDEP_PYTHON_EXECUTABLE, "end_to_end.py", csv, n, t, k,
                     {{"PYTHONPATH", QVDEP_PYTHON_DIR}, {"PYTHONDONTWRITEBYTECODE", "1"}},
                     built ? "" : "not built (QVDEP_PYTHON off)");
}

// The R package, from the library scripts/bench installs it into.
ScriptTimings time_r(const std::filesystem::path &dir, const std::string &csv, int n, int t,
                     int k) {
  const std::string rscript = QVDEP_RSCRIPT;
  const bool installed =
      std::filesystem::exists(std::filesystem::path(QVDEP_R_LIBRARY) / "qvdep" / "DESCRIPTION");
  return time_script(dir, rscript, "end_to_end.R", csv, n, t, k,
                     {{"R_LIBS", QVDEP_R_LIBRARY}},
                     rscript.empty() ? "R not installed"
                     : installed     ? ""
                                     : "not installed in " QVDEP_R_LIBRARY " (scripts/bench does)");
}

// x0 .. x{K-1}, the regressors' columns in the file.
std::vector<std::string> regressor_names(int k) {
  std::vector<std::string> names(k);
  for (int v = 0; v < k; ++v) names[v] = std::string(1, 'x').append(std::to_string(v));
  return names;
}

// A line of the table: what was measured, its figure, its ratio and the
// target it is held to.
void row(const char *path, const std::string &figure, std::optional<double> ratio,
         const std::string &target, std::optional<bool> met) {
  char r[16] = "";
  if (ratio) std::snprintf(r, sizeof r, "%.2f", *ratio);
  std::printf("%-40s %12s %7s  %-14s %s\n", path, figure.c_str(), ratio ? r : "-",
              target.c_str(), met ? (*met ? "met" : "NOT MET") : "");
}

std::string seconds_text(std::optional<double> s) {
  if (!s) return "failed";
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s", *s);
  return text;
}

// The best of kRepeats module runs on the panel of that shape, and its CD.
int module_runs(int n, int t, int k, int missing_percent) {
  const qvd::host::Panel panel = factor_panel(n, t, k, missing_percent);
  ModuleInstance module;
  double cd = 0;
  const std::optional<double> seconds = best_of([&] {
    DependenceRequest request = qvd::host::make_request(panel, {});
    if (module.host.run(module.instance, &request).status != 0) return false;
    cd = request.cd;
    module.host.free_block(module.instance, request.correlations);
    return true;
  });
  if (!seconds) return 1;
  std::printf("%.17g %.17g\n", *seconds, cd);
  return 0;
}

// The module's runs around the paths, each in a process of its own.
struct ModuleTiming {
  std::optional<double> seconds;
  double cd = 0;
};

ModuleTiming time_module(const std::filesystem::path &dir, int n, int t, int k,
                         int missing_percent) {
  const std::string out = (dir / "module.out").string();
  const ChildRun run =
      run_child({std::filesystem::read_symlink("/proc/self/exe").string(), "--module-run",
                 std::to_string(n), std::to_string(t), std::to_string(k),
                 std::to_string(missing_percent)},
                out);
  ModuleTiming m;
  double seconds = 0;
  std::ifstream in(out);
  if (run.ok && in >> seconds >> m.cd) m.seconds = seconds;
  return m;
}

// The fastest of the runs, empty if any failed.
std::optional<double> fastest(std::initializer_list<const ModuleTiming *> runs) {
  std::optional<double> best;
  for (const ModuleTiming *m : runs) {
    if (!m->seconds) return std::nullopt;
    best = std::min(best.value_or(*m->seconds), *m->seconds);
  }
  return best;
}

// A directory of its own under the system's temporary one; empty if none
// could be made.
std::optional<std::filesystem::path> scratch_directory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qvdep-e2e-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return std::nullopt;
  }
  return pattern;
}

// The large panel: the CLI's text report against the module's run, and
// its peak memory against the module's buffers and the dense panel.
int scale_group(int n, int t, int k) {
  const std::optional<std::filesystem::path> dir = scratch_directory();
  if (!dir) return 1;
  const std::string csv = (*dir / "panel.csv").string();
  bool met = false;
  try {
    const long bytes = write_long_csv(csv, factor_panel(n, t, k, 0));
    std::string x_list;
    for (const std::string &x : regressor_names(k)) x_list += (x_list.empty() ? "" : ",") + x;
    std::printf("panel: %d cross-sections, %d periods, %d regressors, %.1f MB of CSV\n", n, t,
                k, bytes / 1e6);
    std::fflush(stdout);
    const ModuleTiming before = time_module(*dir, n, t, k, 0);
    const ProgramTiming text =
        time_program({QVDEP_CLI_PATH, "--id", "id", "--time", "t", "--y", "y", "--x", x_list, csv});
    const ModuleTiming after = time_module(*dir, n, t, k, 0);
    const std::optional<double> run = fastest({&before, &after});
    const std::optional<double> ratio =
        run && text.seconds ? std::optional(*text.seconds / *run) : std::nullopt;
    const double floor = qvd::analysis::module_bytes(n, t, k, k + 2) +
                         qvd::analysis::panel_bytes(n, t, k);
    std::printf("\n%-40s %12s %7s  %-14s %s\n", "path", "figure", "ratio", "target", "");
    row("module run (reference host), fastest", seconds_text(run),
        run ? std::optional(1.0) : std::nullopt, "(denominator)", std::nullopt);
    row("CLI, text report", seconds_text(text.seconds), ratio, "<= 2.5", ratio && *ratio <= 2.5);
    row("module's buffers and the dense panel", qvd::analysis::human_bytes(floor), std::nullopt,
        "(denominator)", std::nullopt);
    row("CLI, peak resident memory", qvd::analysis::human_bytes(text.peak_bytes),
        text.peak_bytes / floor, "<= 1.25", text.seconds && text.peak_bytes <= 1.25 * floor);
    met = ratio.has_value();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "qvdep_e2e_bench: %s\n", e.what());
  }
  std::error_code ignored;
  std::filesystem::remove_all(*dir, ignored);
  return met ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc == 6 && std::string(argv[1]) == "--module-run")
    return module_runs(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                       std::atoi(argv[5]));
  const bool scale = argc == 5 && std::string(argv[1]) == "--scale";
  if (scale) ++argv, --argc;
  int n = 2000, t = 250, k = 4;
  if (argc == 4) n = std::atoi(argv[1]), t = std::atoi(argv[2]), k = std::atoi(argv[3]);
  if ((argc != 1 && argc != 4) || n < 2 || k < 0 || t < k + 2) {
    std::fprintf(stderr, "usage: %s [--scale] [N T K]\n", argv[0]);
    return 2;
  }
  if (scale) return scale_group(n, t, k);
  const std::optional<std::filesystem::path> scratch = scratch_directory();
  if (!scratch) return 1;
  const std::filesystem::path dir = *scratch;
  const std::string csv = (dir / "panel.csv").string();
  const std::string gappy_csv = (dir / "unbalanced.csv").string();
  constexpr int kMissingPercent = 5;
  bool all_ran = true, same_test = true;
  try {
    // The file, from a panel that is gone again before any program runs.
    long bytes = 0;
    {
      const qvd::host::Panel panel = factor_panel(n, t, k, 0);
      bytes = write_long_csv(csv, panel);
      write_long_values((dir / "panel.values").string(), panel);
    }
    write_long_csv(gappy_csv, factor_panel(n, t, k, kMissingPercent));
    const std::vector<std::string> regressors = regressor_names(k);
    std::string x_list;
    for (const std::string &x : regressors) x_list += (x_list.empty() ? "" : ",") + x;
    std::vector<std::string> cli = {QVDEP_CLI_PATH, "--id", "id", "--time", "t", "--y", "y",
                                     "--x", x_list, csv};
    std::printf("panel: %d cross-sections, %d periods, %d regressors, %ld rows, "
                "%.1f MB of CSV in %s\n", n, t, k, long(n) * t, bytes / 1e6, csv.c_str());
    std::printf("BLAS: %s\n", qvd::analysis::tool_blas().c_str());
    std::printf("LM_adj's products: %s\n",
                qvd::analysis::dot_products_available()
                    ? "the analysis library's AVX-512 kernel, on up to two threads"
                    : "the tools' serial OpenBLAS dgemm, on one thread");
    std::fflush(stdout);

    auto module_now = [&](int missing) { return time_module(dir, n, t, k, missing); };
    std::vector<std::string> with_files = cli;
    with_files.insert(with_files.end() - 1, {"--correlations", (dir / "c.csv").string(),
                                             "--heatmap", (dir / "h.svg").string()});
    std::vector<std::string> gappy_cli = cli;
    gappy_cli.back() = gappy_csv;
    const ModuleTiming m0 = module_now(0);
    const ProgramTiming text = time_program(cli);
    const ModuleTiming m1 = module_now(0);
    const ProgramTiming files = time_program(with_files);
    const ModuleTiming m2 = module_now(0);
    const ScriptTimings python = time_python(dir, csv, n, t, k);
    const ModuleTiming m3 = module_now(0);
    const ScriptTimings r = time_r(dir, csv, n, t, k);
    const ModuleTiming m4 = module_now(0);
    const ModuleTiming g0 = module_now(kMissingPercent);
    const ProgramTiming gappy = time_program(gappy_cli);
    const ModuleTiming g1 = module_now(kMissingPercent);

    const qvd::analysis::ColumnSelection columns{"id", "t", "y", regressors};
    const std::optional<double> reading = best_of([&] {
      return qvd::analysis::read_csv_file(csv, columns).rows() == std::size_t(n) * t;
    });

    const std::optional<double> run = fastest({&m0, &m1, &m2, &m3, &m4});
    const std::optional<double> gappy_run = fastest({&g0, &g1});
    const double module_cd = m3.cd;

    // R is timed where it is installed; its absence is no failure.
    all_ran = run && text.seconds && files.seconds && reading && python.seconds_of("dataframe") &&
              python.seconds_of("array") && gappy_run && gappy.seconds && r.failure != "failed";
    // A path's time against the faster module run just before and after it.
    auto ratio_between = [](std::optional<double> s, const ModuleTiming &before,
                            const ModuleTiming &after) -> std::optional<double> {
      const std::optional<double> module = fastest({&before, &after});
      if (!s || !module) return std::nullopt;
      return *s / *module;
    };
    auto within = [](std::optional<double> r, double limit) { return r && *r <= limit; };
    const std::optional<double> text_ratio = ratio_between(text.seconds, m0, m1),
                                files_ratio = ratio_between(files.seconds, m1, m2),
                                frame_ratio = ratio_between(python.seconds_of("dataframe"), m2, m3),
                                array_ratio = ratio_between(python.seconds_of("array"), m2, m3),
                                first_ratio = ratio_between(python.seconds_of("first"), m2, m3),
                                r_ratio = ratio_between(r.seconds_of("dataframe"), m3, m4),
                                r_first_ratio = ratio_between(r.seconds_of("first"), m3, m4);
    auto ratio = [&](std::optional<double> s) -> std::optional<double> {
      if (!s || !run) return std::nullopt;
      return *s / *run;
    };
    std::printf("\nEnd to end, best of %d by the wall clock; each ratio to the faster of the\n"
                "module's runs just before and just after that path (",
                kRepeats);
    for (const ModuleTiming *m : {&m0, &m1, &m2, &m3})
      std::printf("%s%s", m == &m0 ? "" : ", ", seconds_text(m->seconds).c_str());
    std::printf(")\n");
    std::printf("%-40s %12s %7s  %-14s %s\n", "path", "time", "ratio", "target", "");
    row("module run (reference host), fastest", seconds_text(run),
        run ? std::optional(1.0) : std::nullopt, "(denominator)", std::nullopt);
    row("CLI, text report", seconds_text(text.seconds), text_ratio, "<= 2.5",
        within(text_ratio, 2.5));
    row("CLI, --correlations and --heatmap", seconds_text(files.seconds), files_ratio, "<= 6",
        within(files_ratio, 6));
    char rate[32] = "failed";
    if (reading) std::snprintf(rate, sizeof rate, "%.0f MB/s", bytes / 1e6 / *reading);
    row("CSV reader, read_csv_file", rate, ratio(reading), ">= 150 MB/s",
        reading && bytes / 1e6 / *reading >= 150);
    if (reading) row("  (its time)", seconds_text(reading), std::nullopt, "", std::nullopt);
    if (python.failure.empty()) {
      row("Python, cdtest on a DataFrame", seconds_text(python.seconds_of("dataframe")),
          frame_ratio, "<= 1.5", within(frame_ratio, 1.5));
      row("Python, cdtest on an (N, T, K+1) array", seconds_text(python.seconds_of("array")),
          array_ratio, "<= 1.2", within(array_ratio, 1.2));
      row("  (its first call in the interpreter)", seconds_text(python.seconds_of("first")),
          first_ratio, "", std::nullopt);
    } else {
      row("Python", python.failure, std::nullopt, "", false);
    }
    if (r.failure.empty()) {
      row("R, cdtest on a data.frame", seconds_text(r.seconds_of("dataframe")), r_ratio,
          "<= 1.5", within(r_ratio, 1.5));
      row("  (its first call in the session)", seconds_text(r.seconds_of("first")),
          r_first_ratio, "", std::nullopt);
    } else {
      row("R", r.failure, std::nullopt, "", r.failure == "failed" ? std::optional(false)
                                                               : std::nullopt);
    }

    std::printf("\nWith %d %% of the values missing\n", kMissingPercent);
    row("module run (reference host)", seconds_text(gappy_run),
        gappy_run ? std::optional(1.0) : std::nullopt, "(denominator)", std::nullopt);
    row("CLI, text report", seconds_text(gappy.seconds), ratio_between(gappy.seconds, g0, g1),
        "", std::nullopt);

    const double estimate = qvd::analysis::analysis_bytes(n, t, k, k + 2);
    std::printf("\n%-40s %12s %7s  %-14s %s\n", "peak resident memory", "bytes",
                "ratio", "target", "");
    row("analysis_bytes(N, T, K, K + 2)", qvd::analysis::human_bytes(estimate),
        std::nullopt, "(denominator)", std::nullopt);
    row("CLI, text report", qvd::analysis::human_bytes(text.peak_bytes),
        text.peak_bytes / estimate, "<= 1.5", text.seconds && text.peak_bytes <= 1.5 * estimate);
    row("CLI, --correlations and --heatmap", qvd::analysis::human_bytes(files.peak_bytes),
        files.peak_bytes / estimate, "", std::nullopt);

    // The paths ran the same test: the Python and R calls give the
    // module's CD to the last bit.
    for (const auto &[what, cd] : {std::pair{"Python on the DataFrame", python.cd_of("dataframe")},
                                   std::pair{"Python on the array", python.cd_of("array")},
                                   std::pair{"R on the data.frame", r.cd_of("dataframe")}})
      if (cd && *cd != module_cd) {
        std::printf("%s gave CD %.17g, the module's run %.17g\n", what, *cd, module_cd);
        same_test = false;
      }
    if (!all_ran) std::printf("\nsome path did not run: its row says failed\n");
  } catch (const std::exception &e) {
    std::fprintf(stderr, "qvdep_e2e_bench: %s\n", e.what());
    all_ran = false;
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return all_ran && same_test ? 0 : 1;
}
