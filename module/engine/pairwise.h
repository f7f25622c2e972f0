// The residual cross-correlation statistics: Breusch-Pagan LM, Pesaran's
// scaled LM and CD, and the local CD(p), with their p-values.
#ifndef QVDEP_ENGINE_PAIRWISE_H
#define QVDEP_ENGINE_PAIRWISE_H

#include "qvdep.h"

namespace qvd {

// Correlates every pair of cross-sections over their common periods, writes
// the packed correlations into request.correlations and the eight results
// into the request. `residuals` is period-major: T rows of N, residual of
// cross-section k (from 0) at period t (from 0) at t*N + k. The pair sums
// run on the vector variant that the processor feature level selects.
void pairwise_statistics(DependenceRequest &request, const double *residuals);

// The same, with every pair summed on its own by the straightforward loop
// over periods: the reference that the vector variants match bit for bit.
void pairwise_statistics_straightforward(DependenceRequest &request,
                                         const double *residuals);

}  // namespace qvd

#endif
