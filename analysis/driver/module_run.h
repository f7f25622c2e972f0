// One run of the module through the reference host, on any thread: the
// panel and the module's options in; its result fields, its correlation
// block and its residual block out, or the error it reported. The module
// is loaded once per process (shared_host.h), beside the program or in the
// installed tree's library directory.
#ifndef QVDEP_ANALYSIS_DRIVER_MODULE_RUN_H
#define QVDEP_ANALYSIS_DRIVER_MODULE_RUN_H

#include <string>
#include <vector>

#include "analysis/linalg/work_vector.h"
#include "analysis/result/result.h"
#include "host/dependence_run.h"
#include "host/owned_array.h"

namespace qvd::analysis {

// What one run of the module leaves: its result fields, the correlation
// block and the residual block it freed.
struct ModuleRun {
  ModuleResults results;
  host::OwnedArray<double> packed;
  host::OwnedArray<double> residuals;  // period-major (T rows of N), as the module keeps them
};

// The module's options: the intercept, CD(p)'s order and the restrictions
// read against the regressors' `names`. Throws InputError for a
// restriction that does not parse.
host::TestOptions module_options(const Options &options, const std::vector<std::string> &names);

// Runs on any thread: the run has its own instance of the shared host, the
// faults it reports are the calling thread's, and the residual block is
// found by its place among its own instance's blocks. Throws
// FloatingPointFault or ModuleError.
ModuleRun run_module(const host::Panel &panel, const host::TestOptions &options,
                     const std::string &module_path);

// The module's residuals (T rows of N) as the statistics that work one
// cross-section at a time want them: N rows of T.
WorkVector<double> section_major(const double *period_major, std::size_t n, std::size_t t);

// The module's version as its version record reports it.
std::string module_release(const std::string &module_path);

}  // namespace qvd::analysis

#endif
