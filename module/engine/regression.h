// The least-squares fit of one cross-section and its residuals.
#ifndef QVDEP_ENGINE_REGRESSION_H
#define QVDEP_ENGINE_REGRESSION_H

#include <cstdint>

#include "qvdep.h"

namespace qvd {

// Fits cross-section `section` (1..N) of the request by sweeping its
// augmented cross-product matrix, writes its K + c coefficients and its T
// residuals to out[0], out[stride], .., out[(T - 1) * stride] (stride N into
// a period-major matrix of T rows of N puts them in column section - 1),
// clears `status` and may set `near_perfect_fit`. Uses the work buffers held
// in the request.
void regress_cross_section(DependenceRequest &request, int section,
                           double *coefficients, double *out,
                           std::int64_t stride);

}  // namespace qvd

#endif
