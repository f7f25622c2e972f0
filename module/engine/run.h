// The run operation of a test instance: takes the work buffers from the
// instance's pool, fits every cross-section, forms the statistics and gives
// the buffers back (all but the correlations, which stay with the host).
#ifndef QVDEP_ENGINE_RUN_H
#define QVDEP_ENGINE_RUN_H

#include <cstdint>

#include "qvdep.h"

namespace qvd {

// QVDEP_RUN_OK, QVDEP_RUN_POOL_REFUSED, or QVDEP_RUN_INVALID_REQUEST for
// dimensions the module cannot serve safely.
std::int32_t run(TestInstance *instance, DependenceRequest *request);

// True when the counts are non-negative, c is 0 or 1, the 32-bit products
// m(m+1), N*T and N(N+1) cannot overflow, and the arrays that will be read
// are present.
bool request_is_valid(const DependenceRequest &request);

}  // namespace qvd

#endif
