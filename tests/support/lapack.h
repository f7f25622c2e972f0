// The LAPACK routines the tests use as independent references, declared as
// the Fortran library exports them: every argument by address, and the
// length of each character argument passed last by value (gfortran's
// convention). LAPACK is a test-only dependency and Linux-only (Debian
// builds none for Windows).
#ifndef QVDEP_TESTS_SUPPORT_LAPACK_H
#define QVDEP_TESTS_SUPPORT_LAPACK_H

#include <cstddef>

extern "C" {

// Least squares (or minimum norm) min |B - A X| by Householder QR/LQ.
void dgels_(const char *trans, const int *m, const int *n, const int *nrhs,
            double *a, const int *lda, double *b, const int *ldb, double *work,
            const int *lwork, int *info, std::size_t trans_len);

// A X = B by LU with partial pivoting.
void dgesv_(const int *n, const int *nrhs, double *a, const int *lda,
            int *ipiv, double *b, const int *ldb, int *info);

// Singular value decomposition A = U S V'.
void dgesvd_(const char *jobu, const char *jobvt, const int *m, const int *n,
             double *a, const int *lda, double *s, double *u, const int *ldu,
             double *vt, const int *ldvt, double *work, const int *lwork,
             int *info, std::size_t jobu_len, std::size_t jobvt_len);
}

#endif
