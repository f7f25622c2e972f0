// The whole test in one call: a panel in, the eight results out, through
// the module's binary interface.
//
//   qvd::host::ReferenceHost host(path);
//   qvd::host::Panel panel{.sections = 10, .periods = 20, .regressors = 2,
//                          .values = data};
//   qvd::host::TestResults r = qvd::host::run_dependence_test(host, panel, {});
//   // r.cd, r.cd_pvalue, ...
//   r = qvd::host::run_dependence_test(host, panel, {}, {.residuals = true});
//   // r.residuals too
#ifndef QVDEP_HOST_DEPENDENCE_RUN_H
#define QVDEP_HOST_DEPENDENCE_RUN_H

#include <cstdint>
#include <string>
#include <vector>

#include "host/module_figures.h"
#include "host/reference_host.h"

namespace qvd::host {

// Values laid out as the module reads them: for each cross-section, for
// each period, the regressors then the dependent value.
struct Panel {
  int sections = 0;
  int periods = 0;
  int regressors = 0;
  std::vector<double> values;
};

struct TestOptions {
  bool intercept = true;
  int cdp_order = 1;
  // h rows of K + c coefficients (intercept column first) and h right sides.
  std::vector<double> restriction_coef;
  std::vector<double> restriction_rhs;
};

// What a caller wants beyond the eight results.
struct ExtraOutputs {
  bool residuals = false;  // TestResults::residuals
};

// The module's nine figures (when ok()) and what else the run left.
struct TestResults : ModuleFigures {
  bool started = false;               // a descriptor and an instance were made
  RunOutcome outcome;                 // status 0 when every result is valid
  std::vector<std::uint32_t> faults;  // codes the module raised, resumed
  // Packed N-by-N: the block the module left, as it lies.
  OwnedArray<double> correlations;
  // With ExtraOutputs::residuals: N*T residuals period-major, as the module
  // keeps them (qvdep.h, QVDEP_BUFFER_RESIDUALS): cross-section i at period
  // t at element t*N + i, missing where i has no complete observation at t.
  // The block the module gave back, as it lies; empty when the run ended
  // before giving it back.
  OwnedArray<double> residuals;

  bool ok() const { return outcome.status == QVDEP_RUN_OK; }
  std::string error() const;          // "" when ok()
};

// Builds a descriptor and an instance, runs the request, copies the results,
// takes the correlation block and gives everything else back to the host. Safe on several threads at once:
// each call has its own instance, and its faults are the calling thread's.
TestResults run_dependence_test(ReferenceHost &host, const Panel &panel,
                                const TestOptions &options, const ExtraOutputs &extras = {});

// A request for the panel, with nothing but the host's fields set.
DependenceRequest make_request(const Panel &panel, const TestOptions &options);

}  // namespace qvd::host

#endif
