// qvdep: tests a panel in a CSV file for cross-sectional dependence of the
// errors of per-cross-section regressions, through the module's binary
// interface.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "cli/csv_panel.h"
#include "cli/report.h"
#include "host/dependence_test.h"
#include "host/module_library.h"

namespace {

constexpr const char kUsage[] =
    "usage: qvdep [options] FILE.csv\n"
    "\n"
    "Fits, for every cross-section, a least-squares regression of the dependent\n"
    "variable on the regressors, and tests the residuals for cross-sectional\n"
    "dependence (Breusch-Pagan LM, scaled LM, CD and local CD(p)).\n"
    "\n"
    "The file is in long format with a header row: one row per cross-section\n"
    "and period. Empty cells, NA and . are missing values.\n"
    "\n"
    "options:\n"
    "  --id COLUMN        cross-section column (default: the first)\n"
    "  --time COLUMN      period column, numeric (default: the second)\n"
    "  --y COLUMN         dependent variable (default: the third)\n"
    "  --x COL[,COL...]   regressors (default: all remaining columns)\n"
    "  --no-intercept     fit without an intercept\n"
    "  --order P          neighbourhood order of CD(p) (default: 1)\n"
    "  --module PATH      module to load (default: libqvdep.so beside qvdep)\n"
    "  -h, --help         show this text\n";

struct Arguments {
  std::string file;
  std::string module;
  qvd::cli::PanelColumns columns;
  qvd::host::TestOptions options;
};

std::vector<std::string> split_names(const std::string &list) {
  std::vector<std::string> names;
  std::stringstream in(list);
  for (std::string name; std::getline(in, name, ',');)
    if (!name.empty()) names.push_back(name);
  return names;
}

int parse_order(const std::string &text) {
  std::size_t used = 0;
  const long value = std::stol(text, &used);
  if (used != text.size() || value < 0 || value > 1000000000)
    throw std::invalid_argument("--order takes a whole number from 0 up");
  return static_cast<int>(value);
}

Arguments parse_arguments(int argc, char **argv) {
  Arguments a;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      std::cout << kUsage;
      std::exit(0);
    } else if (arg == "--id") {
      a.columns.section = value();
    } else if (arg == "--time") {
      a.columns.period = value();
    } else if (arg == "--y") {
      a.columns.dependent = value();
    } else if (arg == "--x") {
      a.columns.regressors = split_names(value());
    } else if (arg == "--no-intercept") {
      a.options.intercept = false;
    } else if (arg == "--order") {
      a.options.cdp_order = parse_order(value());
    } else if (arg == "--module") {
      a.module = value();
    } else if (!arg.empty() && arg[0] == '-') {
      throw std::invalid_argument("unknown option " + arg);
    } else if (a.file.empty()) {
      a.file = arg;
    } else {
      throw std::invalid_argument("more than one input file");
    }
  }
  if (a.file.empty()) throw std::invalid_argument("no input file");
  if (a.module.empty()) a.module = qvd::host::module_path_beside_executable();
  return a;
}

}  // namespace

int main(int argc, char **argv) {
  Arguments args;
  try {
    args = parse_arguments(argc, argv);
  } catch (const std::exception &e) {
    std::cerr << "qvdep: " << e.what() << "\n\n" << kUsage;
    return 2;
  }
  try {
    std::ifstream in(args.file);
    if (!in) throw std::runtime_error("cannot open " + args.file);
    const qvd::cli::CsvPanel data = qvd::cli::read_csv_panel(in, args.columns);
    qvd::host::ReferenceHost host(args.module);
    const qvd::host::TestResults results =
        qvd::host::run_dependence_test(host, data.panel, args.options);
    if (!results.ok()) throw std::runtime_error(results.error());
    qvd::cli::print_report(std::cout, args.file, data, args.options, results);
  } catch (const std::exception &e) {
    std::cerr << "qvdep: " << args.file << ": " << e.what() << "\n";
    return 1;
  }
  return 0;
}
