#include "analysis/driver/module_run.h"

#include <filesystem>
#include <utility>

#include "analysis/common/errors.h"
#include "analysis/driver/shared_host.h"
#include "analysis/input/restriction.h"
#include "host/module_library.h"

namespace qvd::analysis {
namespace {

std::string fault_name(std::uint32_t code) {
  switch (code) {
    case QVDEP_EXCEPTION_FLT_OVERFLOW: return "overflow";
    case QVDEP_EXCEPTION_FLT_DIVIDE_BY_ZERO: return "division by zero";
    case QVDEP_EXCEPTION_FLT_INVALID_OPERATION: return "invalid operation";
    case QVDEP_EXCEPTION_FLT_UNDERFLOW: return "logarithm of a negative number";
    case QVDEP_EXCEPTION_DOMAIN_ERROR: return "domain error";
    default: return "unknown fault";
  }
}

// The module beside the program (the build tree), else in the library
// directory of an installed tree.
std::string resolve_module(const std::string &path) {
  if (!path.empty()) return path;
  const std::filesystem::path beside = host::module_path_beside_executable();
  if (std::filesystem::exists(beside)) return beside.string();
  const std::filesystem::path installed =
      beside.parent_path() / QVDEP_MODULE_FROM_BIN / beside.filename();
  return std::filesystem::exists(installed) ? installed.string() : beside.string();
}

host::ReferenceHost &load(const std::string &path) {
  return shared_host(resolve_module(path));
}

void check_faults(const host::TestResults &test) {
  if (test.outcome.call.trapped)
    throw FloatingPointFault("floating-point fault during the test, which it ended: " +
                             test.outcome.call.describe());
  if (test.faults.empty()) return;
  std::string names;
  for (std::uint32_t code : test.faults) {
    const std::string name = fault_name(code);
    if (names.find(name) == std::string::npos) names += (names.empty() ? "" : ", ") + name;
  }
  throw FloatingPointFault("floating-point fault during the test: " + names);
}

}  // namespace

host::TestOptions module_options(const Options &options, const std::vector<std::string> &names) {
  host::TestOptions out;
  out.intercept = options.intercept;
  out.cdp_order = options.order;
  for (const std::string &text : options.restrictions) {
    const Restriction r = parse_restriction(text, names, options.intercept);
    out.restriction_coef.insert(out.restriction_coef.end(), r.coefficients.begin(),
                                r.coefficients.end());
    out.restriction_rhs.push_back(r.rhs);
  }
  return out;
}

ModuleRun run_module(const host::Panel &panel, const host::TestOptions &options,
                     const std::string &module_path) {
  host::TestResults test =
      host::run_dependence_test(load(module_path), panel, options, {.residuals = true});
  if (!test.started) throw ModuleError(test.error());
  check_faults(test);
  if (!test.ok()) throw ModuleError("the module did not run the test: " + test.error());
  const std::size_t cells =
      static_cast<std::size_t>(panel.sections) * static_cast<std::size_t>(panel.periods);
  if (test.residuals.size() != cells)
    throw ModuleError("the host found no residual block among the buffers the module freed");
  ModuleRun run;
  run.results = test;
  run.packed = std::move(test.correlations);
  run.residuals = std::move(test.residuals);
  return run;
}

WorkVector<double> section_major(const double *period_major, std::size_t n, std::size_t t) {
  WorkVector<double> rows(n * t);
  for (std::size_t s = 0; s < t; ++s)
    for (std::size_t i = 0; i < n; ++i) rows[i * t + s] = period_major[s * n + i];
  return rows;
}

std::string module_release(const std::string &module_path) {
  VersionRecord record{};
  load(module_path).module().qvrelct1(&record);
  return record.slot[0].text != nullptr ? record.slot[0].text : "";
}

}  // namespace qvd::analysis
