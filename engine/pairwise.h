// The residual cross-correlation statistics: Breusch-Pagan LM, Pesaran's
// scaled LM and CD, and the local CD(p), with their p-values.
#ifndef QVDEP_ENGINE_PAIRWISE_H
#define QVDEP_ENGINE_PAIRWISE_H

#include "qvdep.h"

namespace qvd {

// Correlates every pair of rows of `residuals` (N rows of T) over their
// common periods, writes the packed correlations into request.correlations
// and the eight results into the request.
void pairwise_statistics(DependenceRequest &request, const double *residuals);

}  // namespace qvd

#endif
