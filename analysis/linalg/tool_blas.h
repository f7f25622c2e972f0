// Which BLAS the analysis library's LAPACK calls run on (the bias-adjusted
// LM and CD*): the tools' own serial OpenBLAS, and the kernels it chose for
// this processor when the program started (OPENBLAS_CORETYPE in the
// environment overrides the choice).
#ifndef QVDEP_ANALYSIS_LINALG_TOOL_BLAS_H
#define QVDEP_ANALYSIS_LINALG_TOOL_BLAS_H

#include <string>

namespace qvd::analysis {

// OpenBLAS's description of its build and its kernels, e.g. "OpenBLAS
// 0.3.21 ... SINGLE_THREADED; kernels for Haswell"; "none" in a build
// without LAPACK.
std::string tool_blas();

}  // namespace qvd::analysis

#endif
