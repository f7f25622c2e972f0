// The few Fortran LAPACK and BLAS routines the analysis library calls, as
// the system's liblapack/libblas export them (column-major arrays, every
// argument by address, the hidden lengths of character arguments last).
// Only present when the build found LAPACK (QVDEP_HAVE_LAPACK): Debian
// builds none for the Windows cross build.
#ifndef QVDEP_ANALYSIS_LAPACK_ROUTINES_H
#define QVDEP_ANALYSIS_LAPACK_ROUTINES_H

#include <cstddef>
#include <mutex>

extern "C" {
// QR factorisation A = QR (Householder reflectors below the diagonal).
void dgeqrf_(const int *m, const int *n, double *a, const int *lda, double *tau, double *work,
             const int *lwork, int *info);
// The first n columns of Q from dgeqrf's reflectors.
void dorgqr_(const int *m, const int *n, const int *k, double *a, const int *lda,
             const double *tau, double *work, const int *lwork, int *info);
// Least squares min ||B - A X|| for full-rank A, several right-hand sides.
void dgels_(const char *trans, const int *m, const int *n, const int *nrhs, double *a,
            const int *lda, double *b, const int *ldb, double *work, const int *lwork, int *info,
            std::size_t trans_len);
// Selected eigenvalues and eigenvectors of a symmetric matrix.
void dsyevr_(const char *jobz, const char *range, const char *uplo, const int *n, double *a,
             const int *lda, const double *vl, const double *vu, const int *il, const int *iu,
             const double *abstol, int *m, double *w, double *z, const int *ldz, int *isuppz,
             double *work, const int *lwork, int *iwork, const int *liwork, int *info,
             std::size_t jobz_len, std::size_t range_len, std::size_t uplo_len);
// C = alpha op(A) op(B) + beta C.
void dgemm_(const char *transa, const char *transb, const int *m, const int *n, const int *k,
            const double *alpha, const double *a, const int *lda, const double *b,
            const int *ldb, const double *beta, double *c, const int *ldc,
            std::size_t transa_len, std::size_t transb_len);
// C = alpha A A' + beta C (one triangle).
void dsyrk_(const char *uplo, const char *trans, const int *n, const int *k, const double *alpha,
            const double *a, const int *lda, const double *beta, double *c, const int *ldc,
            std::size_t uplo_len, std::size_t trans_len);
}

namespace qvd::analysis {

// The system's LAPACK and BLAS need not be safe to call from two threads at
// once: Debian's serial OpenBLAS 0.3.21 hands out its work buffers without a
// lock, and two dgemm calls running together then return wrong products
// (here, 100 to 2,000 of 40,000 96-by-96 products formed on two threads at
// once were wrong). Analyses run on several threads (Python releases the
// interpreter lock around them), so every call into those libraries goes
// through call_lapack, which holds one lock for that call only: two
// analyses take turns call by call, never waiting for the other's whole
// algorithm.
inline std::mutex &lapack_lock() {
  static std::mutex lock;
  return lock;
}

// routine(args...) holding the lock for that call only:
//   call_lapack<dgemm_>("T", "N", &m, ...);
template <auto routine, typename... Args>
void call_lapack(Args... args) {
  const std::lock_guard<std::mutex> one(lapack_lock());
  routine(args...);
}

}  // namespace qvd::analysis

#endif
