// The few LAPACK and BLAS routines the analysis library calls, from the
// tools' own copy of Debian's serial OpenBLAS (cmake/tool_lapack.cmake):
// linked into the program and hidden there, each routine renamed
// qvdep_<routine>, so that no other BLAS in the process can answer these
// calls. That build takes 64-bit integers (lapack_int); arrays are
// column-major, every argument goes by address, and the hidden lengths of
// character arguments come last. Only present when the build has it
// (QVDEP_HAVE_LAPACK): Debian builds no LAPACK for the Windows cross build.
#ifndef QVDEP_ANALYSIS_LINALG_LAPACK_ROUTINES_H
#define QVDEP_ANALYSIS_LINALG_LAPACK_ROUTINES_H

#include <cstddef>
#include <cstdint>
#include <mutex>

extern "C" {
// QR factorisation A = QR (Householder reflectors below the diagonal).
void qvdep_dgeqrf(const std::int64_t *m, const std::int64_t *n, double *a, const std::int64_t *lda,
                  double *tau, double *work, const std::int64_t *lwork, std::int64_t *info);
// The first n columns of Q from dgeqrf's reflectors.
void qvdep_dorgqr(const std::int64_t *m, const std::int64_t *n, const std::int64_t *k, double *a,
                  const std::int64_t *lda, const double *tau, double *work,
                  const std::int64_t *lwork, std::int64_t *info);
// Least squares min ||B - A X|| for full-rank A, several right-hand sides.
void qvdep_dgels(const char *trans, const std::int64_t *m, const std::int64_t *n,
                 const std::int64_t *nrhs, double *a, const std::int64_t *lda, double *b,
                 const std::int64_t *ldb, double *work, const std::int64_t *lwork,
                 std::int64_t *info, std::size_t trans_len);
// Solves op(A) X = B for triangular A, several right-hand sides.
void qvdep_dtrtrs(const char *uplo, const char *trans, const char *diag, const std::int64_t *n,
                  const std::int64_t *nrhs, const double *a, const std::int64_t *lda, double *b,
                  const std::int64_t *ldb, std::int64_t *info, std::size_t uplo_len,
                  std::size_t trans_len, std::size_t diag_len);
// Selected eigenvalues and eigenvectors of a symmetric matrix.
void qvdep_dsyevr(const char *jobz, const char *range, const char *uplo, const std::int64_t *n,
                  double *a, const std::int64_t *lda, const double *vl, const double *vu,
                  const std::int64_t *il, const std::int64_t *iu, const double *abstol,
                  std::int64_t *m, double *w, double *z, const std::int64_t *ldz,
                  std::int64_t *isuppz, double *work, const std::int64_t *lwork,
                  std::int64_t *iwork, const std::int64_t *liwork, std::int64_t *info,
                  std::size_t jobz_len, std::size_t range_len, std::size_t uplo_len);
// C = alpha op(A) op(B) + beta C.
void qvdep_dgemm(const char *transa, const char *transb, const std::int64_t *m,
                 const std::int64_t *n, const std::int64_t *k, const double *alpha, const double *a,
                 const std::int64_t *lda, const double *b, const std::int64_t *ldb,
                 const double *beta, double *c, const std::int64_t *ldc, std::size_t transa_len,
                 std::size_t transb_len);
// C = alpha A A' + beta C (one triangle).
void qvdep_dsyrk(const char *uplo, const char *trans, const std::int64_t *n, const std::int64_t *k,
                 const double *alpha, const double *a, const std::int64_t *lda, const double *beta,
                 double *c, const std::int64_t *ldc, std::size_t uplo_len, std::size_t trans_len);
// OpenBLAS's description of its build, and the kernels it chose for this
// processor (OPENBLAS_CORETYPE in the environment overrides the choice).
char *qvdep_openblas_get_config();
char *qvdep_openblas_get_corename();
}

namespace qvd::analysis {

// The integers the routines above take.
using lapack_int = std::int64_t;

// The serial OpenBLAS is not safe to call from two threads at once:
// Debian's 0.3.21 hands out its work buffers without a lock, and two dgemm
// calls running together then return wrong products (here, 100 to 2,000 of
// 40,000 96-by-96 products formed on two threads at once were wrong).
// Analyses run on several threads (Python releases the interpreter lock
// around them), so every call into it goes through call_lapack, which holds
// one lock for that call only: two analyses take turns call by call, never
// waiting for the other's whole algorithm. The copy is the tools' own, so a
// host's calls into its BLAS need not wait.
inline std::mutex &lapack_lock() {
  static std::mutex lock;
  return lock;
}

// routine(args...) holding the lock for that call only:
//   call_lapack<qvdep_dgemm>("T", "N", &m, ...);
template <auto routine, typename... Args>
void call_lapack(Args... args) {
  const std::lock_guard<std::mutex> one(lapack_lock());
  routine(args...);
}

}  // namespace qvd::analysis

#endif
