// The analysis as one JSON object: options used (the model, its effect and
// where the neighbours came from among them), the panel's shape, one entry
// per test, the averages and the weighted CD, and the module's raw result
// fields exactly as it wrote them (a missing value is null, with a flag
// saying it was missing; the whole object null where the module did not
// run). Figures the tool computed sit beside the module's, never in their
// place.
#ifndef QVDEP_REPORT_JSON_OUTPUT_H
#define QVDEP_REPORT_JSON_OUTPUT_H

#include <string>

#include <nlohmann/json.hpp>

#include "analysis/result/result.h"

namespace qvd::report {

nlohmann::json result_json(const std::string &source, const analysis::Result &result);

}  // namespace qvd::report

#endif
