// Choice of the sweep variant by the processor feature level. Both variants
// give the same bits; the choice is visible only in speed.
#include "matrix/sweep.h"

#include "platform/cpu_features.h"

namespace qvd {

void sweep(double *S, int k, int n, char *flags, double *work, double tol) {
  sweep_reference(S, k, n, flags, work, tol);
}

}  // namespace qvd
