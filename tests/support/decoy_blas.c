/* TEST ONLY: a BLAS and LAPACK that answers no call. Preloaded into a tool
   (LD_PRELOAD), it comes first in the process's symbol lookup, as a BLAS
   that the host loaded before the tool would; every routine the module and
   the tools use stops the process, naming itself, if a call reaches it. */
#include <stdio.h>
#include <stdlib.h>

static void reached(const char *routine) {
  fprintf(stderr, "decoy BLAS: %s was called\n", routine);
  abort();
}

#define DECOY(routine) \
  void routine(void) { reached(#routine); }

DECOY(daxpy_)
DECOY(dgemm_)
DECOY(dsyrk_)
DECOY(dsyevr_)
DECOY(dgels_)
DECOY(dgeqrf_)
DECOY(dorgqr_)
