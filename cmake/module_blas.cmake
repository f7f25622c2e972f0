# The module's BLAS on Linux: the serial reference implementation, linked
# statically and hidden inside the module (module/CMakeLists.txt). It starts
# no threads, its daxpy rounds the multiply and the add separately, so the
# module's sums are the same on every processor, and no BLAS that the host
# process loads, nor Debian's choice of libblas.so.3, can take its place.
#
# Debian's libblas-dev keeps the reference archive in its own folder,
# blas/libblas.a. The generic lib/<arch>/libblas.a is whatever Debian's
# alternatives select (OpenBLAS's archive once libopenblas-dev is
# installed: a module that starts threads and whose sums follow the
# processor's kernels), so the reference folder is searched alone first.
# QVDEP_BLAS_LIBRARY names another archive.
#
# Defines the imported target qvdep_blas and QVDEP_BLAS_LIBRARY.

find_library(QVDEP_BLAS_LIBRARY NAMES libblas.a
  PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/blas /usr/lib64/blas /usr/lib/blas
  NO_DEFAULT_PATH
  DOC "Static serial reference BLAS linked into the module")
# Elsewhere than Debian: wherever the system keeps one; checked below.
find_library(QVDEP_BLAS_LIBRARY NAMES libblas.a
  DOC "Static serial reference BLAS linked into the module")
if(NOT QVDEP_BLAS_LIBRARY)
  message(FATAL_ERROR "no static reference BLAS (libblas.a) found: run scripts/setup, "
                      "or set QVDEP_BLAS_LIBRARY to its path")
endif()

# A tuned BLAS gives itself away by its own symbols: OpenBLAS's (openblas_*,
# gotoblas*, its thread server), BLIS's (bli_*), ATLAS's (ATL_*) and MKL's
# (mkl_*). The reference archive defines the Fortran routines and nothing
# else, daxpy_ among them.
execute_process(COMMAND ${CMAKE_NM} --defined-only "${QVDEP_BLAS_LIBRARY}"
  OUTPUT_VARIABLE _qvdep_blas_symbols ERROR_QUIET RESULT_VARIABLE _qvdep_nm_status)
set(_qvdep_tuned_names
  "openblas_[a-z_]*|gotoblas[a-z_]*|blas_thread_init|bli_[a-z_]*|ATL_[a-zA-Z_]*|mkl_[a-z_]*")
string(REGEX MATCH "[ \n][TDBR] (${_qvdep_tuned_names})\n" _qvdep_tuned "${_qvdep_blas_symbols}")
set(_qvdep_tuned "${CMAKE_MATCH_1}")
if(NOT _qvdep_nm_status EQUAL 0 OR NOT _qvdep_blas_symbols MATCHES "[ \n]T daxpy_\n")
  message(FATAL_ERROR "${QVDEP_BLAS_LIBRARY} is not a static BLAS (no daxpy_ in it): set "
                      "QVDEP_BLAS_LIBRARY to the reference libblas.a (Debian: libblas-dev's "
                      "/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/blas/libblas.a)")
endif()
if(_qvdep_tuned)
  message(FATAL_ERROR "${QVDEP_BLAS_LIBRARY} is a tuned BLAS (it defines ${_qvdep_tuned}), "
                      "not the serial reference BLAS the module needs: set QVDEP_BLAS_LIBRARY "
                      "to the reference libblas.a (Debian: libblas-dev's "
                      "/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/blas/libblas.a)")
endif()
message(STATUS "The module's BLAS: ${QVDEP_BLAS_LIBRARY} (serial reference)")

add_library(qvdep_blas STATIC IMPORTED)
set_target_properties(qvdep_blas PROPERTIES IMPORTED_LOCATION "${QVDEP_BLAS_LIBRARY}")
