#include "host/dependence_run.h"

namespace qvd::host {

DependenceRequest make_request(const Panel &panel, const TestOptions &options) {
  DependenceRequest request{};
  const int coefficients = panel.regressors + (options.intercept ? 1 : 0);
  request.panel = panel.values.data();
  request.n_sections = panel.sections;
  request.n_periods = panel.periods;
  request.n_regressors = panel.regressors;
  request.n_intercept = options.intercept ? 1 : 0;
  request.n_restrictions =
      coefficients == 0 ? 0 : static_cast<int>(options.restriction_coef.size()) / coefficients;
  request.restriction_rhs = options.restriction_rhs.data();
  request.restriction_coef = options.restriction_coef.data();
  request.cdp_order = options.cdp_order;
  request.near_perfect_fit = 0;
  return request;
}

std::string TestResults::error() const {
  if (!started) return "the module could not create a test instance";
  if (outcome.call.trapped) return outcome.call.describe();
  switch (outcome.status) {
    case QVDEP_RUN_OK: return "";
    case QVDEP_RUN_POOL_REFUSED: return "the host's pool refused a work buffer";
    case QVDEP_RUN_INVALID_REQUEST: return "the request's dimensions are invalid";
    default: return "the test could not be run";
  }
}

TestResults run_dependence_test(ReferenceHost &host, const Panel &panel,
                                const TestOptions &options, const ExtraOutputs &extras) {
  TestResults results;
  ExtensionDescriptor *descriptor = host.create_descriptor();
  if (descriptor == nullptr) return results;
  TestInstance *instance = host.create_instance(descriptor);
  if (instance == nullptr) {
    host.release_descriptor(descriptor);
    return results;
  }
  DependenceRequest request = make_request(panel, options);
  results.started = true;
  results.outcome = host.run(instance, &request, extras.residuals ? &results.residuals : nullptr);
  results.faults = results.outcome.faults;
  if (results.ok()) {
    static_cast<ModuleFigures &>(results) = figures_of(request);
    const std::size_t n = static_cast<std::size_t>(request.n_sections);
    results.correlations = host.take_block(instance, request.correlations, n * (n + 1) / 2);
  }
  host.destroy_instance(instance);
  host.release_descriptor(descriptor);
  return results;
}

}  // namespace qvd::host
