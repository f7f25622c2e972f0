// qvdep: tests a panel in a CSV file for cross-sectional dependence of the
// errors of per-cross-section regressions, through the module's binary
// interface, or of a panel model (pooled, fixed or random effects, CCE). A
// thin layer over the analysis and report libraries: it parses the command
// line, prints the report or the JSON object, and writes the optional
// correlation table and pictures.
//
// Exit status: 0 done, 2 bad input or usage, 3 floating-point fault in the
// module, 1 anything else (module not loadable, file not writable), 128 +
// the signal's number when SIGINT, SIGTERM or SIGHUP ends it.
#include <algorithm>
#include <cctype>
#include <iostream>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "analysis/common/errors.h"
#include "analysis/common/model_choice.h"
#include "analysis/driver/analysis.h"
#include "analysis/input/csv_reader.h"
#include "analysis/input/proximity.h"
#include "analysis/layout/memory_budget.h"
#include "cli/atomic_file.h"
#include "cli/interrupt_cleanup.h"
#include "report/correlation_csv.h"
#include "report/density_svg.h"
#include "report/heatmap_svg.h"
#include "report/json_output.h"
#include "report/model_text.h"
#include "report/report.h"
#ifdef QVDEP_HAVE_RSVG
#include "report/svg_png.h"
#endif

namespace {

constexpr int kExitInput = 2, kExitFault = 3, kExitOther = 1;

constexpr const char kDescription[] =
    "Fits, for every cross-section, a least-squares regression of the dependent variable\n"
    "on the regressors (or the panel model --model names) and tests the residuals for\n"
    "cross-sectional dependence:\n"
    "  Breusch-Pagan LM and Pesaran's scaled LM, Pesaran's CD and the local CD(p),\n"
    "  the weighted CD and its power-enhanced CDw+ (Juodis and Reese 2022),\n"
    "  the bias-adjusted LM (Pesaran, Ullah and Yamagata 2008),\n"
    "  CD*(p), the CD once p common factors are taken out (Pesaran and Xie 2021),\n"
    "  and, where a residual is missing (or with --unbalanced), Pesaran's LM, scaled LM,\n"
    "  CD and CD(p) for unbalanced panels (as R's plm computes them),\n"
    "with the average (absolute) residual correlation. The residuals of the other models are\n"
    "tested as R's plm::pcdtest tests them: LM, scaled LM, LM_BC (after fixed effects by\n"
    "cross-section), CD and the local rows over correlations centred over each pair's\n"
    "common periods, then the weighted CD, CDw+ and CD*. Every p-value is formed from its\n"
    "statistic with full relative precision in the tail (printed as < 1e-300 beyond).\n"
    "\n"
    "FILE is CSV in long format with a header row, one row per cross-section and period\n"
    "('-' reads standard input). An empty cell, NA or . is a missing value; a period a\n"
    "cross-section lacks is missing there.";

constexpr const char kFooter[] =
    "\nExamples:\n"
    "  qvdep --id firm --time year --y inv --x value,capital --order 2 grunfeld.csv\n"
    "  qvdep --id firm --time year --y inv --x value,capital --restrict 'value + capital = 0.2' \\\n"
    "        --format json grunfeld.csv\n"
    "  qvdep --id firm --time year --y inv --x value,capital --correlations rho.csv \\\n"
    "        --heatmap rho.svg grunfeld.csv\n"
    "  qvdep --id firm --time year --y inv --x value,capital --model within --effect twoways \\\n"
    "        grunfeld.csv\n"
    "  qvdep --id firm --time year --y inv --x value,capital --model pooling \\\n"
    "        --neighbours w.csv grunfeld.csv\n"
    "  cat panel.csv | qvdep --id country --time quarter --y growth --x '' -\n"
    "\n"
    "Exit status: 0 done, 2 bad input, 3 floating-point fault during the test, 1 other errors.\n";

struct Arguments {
  std::string file;
  qvd::analysis::ColumnSelection columns;
  std::string regressors;  // comma-separated
  bool regressors_given = false;
  qvd::analysis::Options options;
  std::string format = "text";
  std::string correlations_path, heatmap_path, density_path;
  std::string max_memory;
  std::string neighbours_path;
  bool version = false;
};

// "a, b or c": the names of every value of an enumeration from `first` to `last`.
template <typename Enum>
std::string names_of(Enum first, Enum last, const char *(*name)(Enum)) {
  std::string list;
  for (int v = static_cast<int>(first); v <= static_cast<int>(last); ++v)
    list += (v == static_cast<int>(first) ? "" : v == static_cast<int>(last) ? " or " : ", ") +
            std::string(name(static_cast<Enum>(v)));
  return list;
}

// An option whose value is one of an enumeration's names (a `what`: "model"),
// stored as that value; any other name is refused with the list of those
// there are.
template <typename Enum, typename Store>
CLI::Option *add_named(CLI::App &app, const std::string &flag, const std::string &what,
                       Enum first, Enum last, const char *(*name)(Enum),
                       std::optional<Enum> (*named)(std::string_view), Store store,
                       const std::string &help) {
  const std::string names = names_of(first, last, name);
  return app
      .add_option_function<std::string>(
          flag, [=](const std::string &text) { store(*named(text)); }, help)
      ->check(CLI::Validator(
          [=](std::string &text) {
            return named(text) ? std::string()
                               : "no " + what + " \"" + text + "\"; choose " + names;
          },
          "", what))
      ->type_name("NAME");
}

void define(CLI::App &app, Arguments &a) {
  app.add_option("FILE", a.file, "input CSV file, or - for standard input");
  app.add_option("--id", a.columns.id, "cross-section column (default: the first)")
      ->type_name("COLUMN");
  app.add_option("--time", a.columns.time,
                 "period column (default: the second): numbers, sorted as numbers, or text, "
                 "sorted as text; a column of both is an error")
      ->type_name("COLUMN");
  app.add_option("--y", a.columns.dependent, "dependent variable (default: the third column)")
      ->type_name("COLUMN");
  app.add_option("--x", a.regressors,
                 "regressors, comma-separated (default: every other column; --x '' for none)")
      ->type_name("COL[,COL...]");
  app.add_flag("--no-intercept", [&a](std::int64_t) { a.options.intercept = false; },
               "fit every equation without an intercept (a within model has none)");
  using qvd::analysis::Effect, qvd::analysis::Model;
  add_named(app, "--model", "model", Model::unit, Model::none, qvd::analysis::model_name,
            qvd::analysis::model_named, [&a](Model m) { a.options.model = m; },
            "the model whose residuals are tested: unit, each cross-section's own regression "
            "(default); pooling, one over the whole panel; within, fixed effects; random, "
            "random effects (Swamy and Arora); cce, Pesaran's CCE mean group; none, the "
            "dependent column as it is (residuals formed elsewhere)");
  add_named(app, "--effect", "effect", Effect::individual, Effect::twoways,
            qvd::analysis::effect_name, qvd::analysis::effect_named,
            [&a](Effect e) { a.options.effect = e; },
            "the effects of a within or random model: individual (by cross-section, the "
            "default), time (by period) or twoways (both)");
  app.add_option("--neighbours", a.neighbours_path,
                 "proximity matrix of the local rows, as plm's w: a CSV N x N matrix with the "
                 "cross-sections as its header and first column (a cell not zero: neighbours), "
                 "or an edge list of two columns under a header; without it the local CD(p) "
                 "takes the pairs at most --order apart")
      ->type_name("FILE.csv");
  app.add_option("--order", a.options.order,
                 "neighbourhood order p of the local CD(p) (default 1); with --neighbours, of "
                 "the module's CD(p) alone (model unit)")
      ->type_name("P")
      ->check(CLI::Range(1, 1000000000));
  app.add_option("--restrict", a.options.restrictions,
                 "linear restriction on each cross-section's coefficients (model unit), "
                 "repeatable: 'value + capital = 0.2', '2*value - capital = 0'; const is the "
                 "intercept")
      ->type_name("'EXPR = VALUE'")
      ->allow_extra_args(false);
  app.add_option("--seed", a.options.seed, "seed of the weighted CD's random signs")
      ->type_name("N")
      ->default_val(qvd::analysis::kDefaultSeed);
  app.add_option("--cdw-draws", a.options.cdw_draws,
                 "draws R of the weighted CD's random signs, summed as (sum CDw_r)/sqrt(R) "
                 "(default 1)")
      ->type_name("R");
  app.add_option("--factors", a.options.factors,
                 "principal components p that CD* takes out, 1 <= p < min(N, T) (default 4, "
                 "where it fits)")
      ->type_name("P");
  app.add_option("--exponent-size", a.options.exponent_size,
                 "size p of the exponent of dependence's threshold and multiple test, in (0, 1) "
                 "(default 0.10)")
      ->type_name("P");
  app.add_option("--exponent-tuning", a.options.exponent_tuning,
                 "tuning delta of the residuals' exponent's threshold, in (0, 1] (default 0.5)")
      ->type_name("DELTA");
  app.add_option("--exponent-draws", a.options.exponent_draws,
                 "draws R of a bootstrap over cross-sections of the residuals' exponent, 1 or "
                 "more (default: no bootstrap)")
      ->type_name("R");
  app.add_option("--exponent-seed", a.options.exponent_seed,
                 "seed of the exponent's bootstrap (default: --seed)")
      ->type_name("N");
  app.add_flag("--exponent-of-dependent", a.options.exponent_of_dependent,
               "also the exponent of the dependent variable as it is, with its standard error "
               "(model none: the series tested, always)");
  app.add_flag("--unbalanced", a.options.unbalanced_block,
               "report Pesaran's unbalanced-panel definitions for a balanced panel too (always "
               "reported when a residual is missing)");
  app.add_option("--format", a.format, "text (default) or json")
      ->check(CLI::IsMember({"text", "json"}));
  app.add_option("--correlations", a.correlations_path,
                 "write the labelled N-by-N residual correlation matrix as CSV")
      ->type_name("FILE.csv");
  app.add_option("--heatmap", a.heatmap_path,
                 "draw the correlation matrix as a labelled heatmap with a colour bar, as SVG "
                 "or PNG by the file's name (past 150 cross-sections the matrix is one "
                 "embedded image; past 1,600, of block means, as the picture says)")
      ->type_name("FILE.svg|.png");
  app.add_option("--max-memory", a.max_memory,
                 "memory the analysis may take, e.g. 4G or 512M (default: half of the "
                 "physical memory); a larger panel is refused before it is laid out")
      ->type_name("SIZE");
  app.add_option("--density", a.density_path,
                 "draw the distribution of the correlations (histogram, kernel density and the "
                 "density without dependence), as SVG or PNG by the file's name")
      ->type_name("FILE.svg|.png");
  app.add_option("--module", a.options.module_path,
                 "module to load (default: libqvdep beside the qvdep program)")
      ->type_name("PATH");
  app.add_flag("--version", a.version,
               "print the tool's version and the module's release from its version record");
}

int fail(const std::string &message, int status) {
  std::cerr << "qvdep: " << message << "\n";
  return status;
}

enum class PictureFormat { svg, png };

// The format a picture's file name asks for: FILE.svg or FILE.png, in any
// case. Anything else is refused, and so is PNG in a build without
// librsvg, before the input is read.
PictureFormat picture_format(const std::string &option, const std::string &path) {
  std::string suffix = path.size() >= 4 ? path.substr(path.size() - 4) : "";
  for (char &ch : suffix) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  if (suffix == ".svg") return PictureFormat::svg;
  if (suffix == ".png") {
#ifdef QVDEP_HAVE_RSVG
    return PictureFormat::png;
#else
    throw qvd::analysis::InputError(option + " " + path +
                                    ": this build writes no PNG (no librsvg); use FILE.svg");
#endif
  }
  throw qvd::analysis::InputError(option + " " + path +
                                  ": a picture's file name must end in .svg or .png");
}

// The picture's file: its SVG text, or that picture rendered as PNG.
std::string picture_file(PictureFormat format, std::string svg) {
#ifdef QVDEP_HAVE_RSVG
  if (format == PictureFormat::png) return qvd::report::svg_to_png(svg);
#else
  (void)format;
#endif
  return svg;
}

// The module's release string, as its version record holds it, with its
// parts named: a dotted version, a three-character maintenance level and
// the build date as MMDDYYYY ("1.0.0.1M0P04242019").
std::string explained_release(const std::string &release) {
  const std::size_t n = release.size();
  const bool dated = n > 11 && std::all_of(release.end() - 8, release.end(), [](char ch) {
    return std::isdigit(static_cast<unsigned char>(ch)) != 0;
  });
  if (!dated) return "module " + release;
  return "module " + release + ": release " + release.substr(0, n - 11) + ", maintenance level " +
         release.substr(n - 11, 3) + ", built " + release.substr(n - 8, 2) + "/" +
         release.substr(n - 6, 2) + "/" + release.substr(n - 4);
}

// What the program is doing, for the message when memory runs out.
const char *g_doing = "starting";

int run(Arguments &a) {
  if (a.version) {
    std::cout << "qvdep " << QVDEP_VERSION << "\n"
              << explained_release(qvd::analysis::module_version(a.options.module_path)) << "\n";
    return 0;
  }
  if (a.file.empty()) return fail("no input file (run qvdep --help for the options)", kExitInput);
  if (!a.neighbours_path.empty()) {
    if (a.neighbours_path == "-" && a.file == "-")
      return fail("--neighbours -: the standard input already gives the panel", kExitInput);
    a.options.neighbours = [path = a.neighbours_path](const std::vector<std::string> &ids) {
      return qvd::analysis::read_proximity_file(path, ids);
    };
    a.options.neighbours_name = a.neighbours_path == "-" ? "<stdin>" : a.neighbours_path;
  }
  if (a.regressors_given) {
    std::vector<std::string> names;
    std::stringstream list(a.regressors);
    for (std::string name; std::getline(list, name, ',');)
      if (!name.empty()) names.push_back(name);
    a.columns.regressors = names;
  }
  if (!a.max_memory.empty()) a.options.max_memory = qvd::analysis::parse_memory_size(a.max_memory);
  const auto heatmap_format =
      a.heatmap_path.empty() ? PictureFormat::svg : picture_format("--heatmap", a.heatmap_path);
  const auto density_format =
      a.density_path.empty() ? PictureFormat::svg : picture_format("--density", a.density_path);
  g_doing = "reading the input";
  qvd::analysis::LongPanel data = qvd::analysis::read_csv_file(a.file, a.columns);
  g_doing = "running the test";
  // The rows go once the panel is laid out: the module's buffers need the room.
  const qvd::analysis::Result result = qvd::analysis::run_analysis(std::move(data), a.options);
  g_doing = "writing the output";
  const std::string source = a.file == "-" ? "<stdin>" : a.file;
  // Every output file is staged and the report printed before any file
  // takes its name, so a failure anywhere leaves none of them behind.
  qvd::cli::StagedFiles files;
  if (!a.correlations_path.empty())
    files.stage(a.correlations_path,
                [&](std::ostream &out) { qvd::report::write_correlation_csv(result, out); });
  const std::string title = qvd::report::correlations_title(result, source);
  if (!a.heatmap_path.empty())
    files.stage(a.heatmap_path,
                picture_file(heatmap_format, qvd::report::heatmap_svg(result, title)));
  if (!a.density_path.empty())
    files.stage(a.density_path,
                picture_file(density_format, qvd::report::density_svg(result, title)));
  if (a.format == "json")
    std::cout << qvd::report::result_json(source, result).dump(2) << "\n";
  else
    std::cout << qvd::report::report_text(source, result);
  std::cout.flush();
  if (!std::cout) return fail("the report cannot be written to the standard output", kExitOther);
  files.commit();
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  qvd::cli::remove_temporaries_on_signals();
  CLI::App app(kDescription, "qvdep");
  app.footer(kFooter);
  app.get_formatter()->column_width(30);
  Arguments args;
  define(app, args);
  try {
    app.parse(argc, argv);
    args.regressors_given = app.count("--x") > 0;
  } catch (const CLI::CallForHelp &) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::ParseError &e) {
    return fail(std::string(e.what()) + " (run qvdep --help for the options)", kExitInput);
  }
  try {
    return run(args);
  } catch (const qvd::analysis::InputError &e) {
    return fail(e.what(), kExitInput);
  } catch (const qvd::analysis::FloatingPointFault &e) {
    return fail(e.what(), kExitFault);
  } catch (const std::bad_alloc &) {
    return fail(std::string("out of memory while ") + g_doing, kExitOther);
  } catch (const std::exception &e) {
    return fail(e.what(), kExitOther);
  }
}
