#include "analysis/linalg/tool_blas.h"

#ifdef QVDEP_HAVE_LAPACK
#include "analysis/linalg/lapack_routines.h"
#endif

namespace qvd::analysis {

std::string tool_blas() {
#ifdef QVDEP_HAVE_LAPACK
  return std::string(qvdep_openblas_get_config()) + "; kernels for " +
         qvdep_openblas_get_corename();
#else
  return "none";
#endif
}

}  // namespace qvd::analysis
