// Choice of the sweep variant by the processor feature level: AVX where the
// processor has it and the operating system saves its registers, SSE2 (which
// every x86-64 processor has) otherwise. Both give the same bits; the choice
// is visible only in speed.
#include "matrix/sweep.h"

#include "platform/cpu_features.h"

namespace qvd {

void sweep(double *S, int k, int n, char *flags, double *work, double tol) {
  // Detects the level on first use; racing first callers store the same value.
  if (processor_feature_level() >= kFeatureLevelAvx) {
    sweep_avx(S, k, n, flags, work, tol);
  } else {
    sweep_sse2(S, k, n, flags, work, tol);
  }
}

}  // namespace qvd
