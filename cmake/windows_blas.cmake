# The BLAS of the Windows DLL. Debian ships no Windows BLAS; a host
# installation provides one, and the module imports one function from it.
# QVDEP_WINDOWS_BLAS names both, "<dll>:<symbol>": the DLL the module's
# import table names and the symbol it imports as its daxpy (reference
# Fortran interface, y := a*x + y). The module links against an import
# library made from these two names alone, so nothing of any particular
# BLAS is needed to build it; tests load a stand-in of the same name.
set(QVDEP_WINDOWS_BLAS "libblas.dll:daxpy_" CACHE STRING
    "BLAS DLL and daxpy symbol the Windows module imports, as <dll>:<symbol>")

string(REPLACE ":" ";" _qvdep_blas_parts "${QVDEP_WINDOWS_BLAS}")
list(LENGTH _qvdep_blas_parts _qvdep_blas_count)
if(NOT _qvdep_blas_count EQUAL 2)
  message(FATAL_ERROR "QVDEP_WINDOWS_BLAS must be <dll>:<symbol>, not ${QVDEP_WINDOWS_BLAS}")
endif()
list(GET _qvdep_blas_parts 0 QVDEP_BLAS_DLL)
list(GET _qvdep_blas_parts 1 QVDEP_BLAS_DAXPY)
string(REGEX REPLACE "\\.dll$" "" QVDEP_BLAS_DLL_STEM "${QVDEP_BLAS_DLL}")

# The module calls daxpy_; the import names whatever the DLL calls it.
set(_qvdep_blas_def "${CMAKE_BINARY_DIR}/blas_import/${QVDEP_BLAS_DLL_STEM}.def")
set(_qvdep_blas_lib "${CMAKE_BINARY_DIR}/blas_import/lib${QVDEP_BLAS_DLL_STEM}.dll.a")
if(QVDEP_BLAS_DAXPY STREQUAL "daxpy_")
  set(_qvdep_blas_export "daxpy_")
else()
  set(_qvdep_blas_export "daxpy_ == ${QVDEP_BLAS_DAXPY}")
endif()
file(WRITE "${_qvdep_blas_def}"
     "LIBRARY ${QVDEP_BLAS_DLL}\nEXPORTS\n  ${_qvdep_blas_export}\n")
execute_process(
  COMMAND ${CMAKE_DLLTOOL} -d "${_qvdep_blas_def}" -l "${_qvdep_blas_lib}"
  RESULT_VARIABLE _qvdep_dlltool_result)
if(NOT _qvdep_dlltool_result EQUAL 0)
  message(FATAL_ERROR "dlltool could not make the BLAS import library")
endif()

add_library(BLAS::BLAS UNKNOWN IMPORTED)
set_target_properties(BLAS::BLAS PROPERTIES IMPORTED_LOCATION "${_qvdep_blas_lib}")
