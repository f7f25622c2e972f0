# The LAPACK and BLAS of the tools (the analysis library's panel models,
# bias-adjusted LM and CD*, in the command-line tool, the Python package and
# the tests).
#
# They are Debian's serial OpenBLAS with 64-bit integers
# (libopenblas64-serial-dev), linked into every program that uses the
# analysis library and hidden there, so that neither Debian's choice of
# libblas.so.3 or liblapack.so.3 nor a BLAS that the host process loaded
# first (NumPy's, R's, perhaps threaded) can take its place: a threaded
# OpenBLAS splits a product between its threads and its sums come out
# different in the last bits, and its idle threads spin beside the
# analysis's own. The 64-bit-integer build is the one whose development
# package leaves Debian's libblas.so, libblas.a and liblapack.so
# alternatives alone.
#
# The archive is partially linked (ld -r) into one object holding the
# routines the analysis calls and everything they reach, and every symbol of
# that object is made local but those routines, renamed qvdep_<routine>
# (analysis/lapack_routines.h): nothing outside can bind to its internals,
# and a program that also links a system LAPACK (the tests' references)
# meets no second dgemm_.
#
# qvdep_add_tool_lapack(target): adds the object to the target and links
# what it needs (libgfortran, libm).

option(QVDEP_TOOL_LAPACK
  "Link the tools' own serial OpenBLAS (without it the bias-adjusted LM and CD* are not available)"
  ON)

if(QVDEP_TOOL_LAPACK AND NOT WIN32)
  find_library(QVDEP_TOOL_LAPACK_ARCHIVE NAMES libopenblas64.a
    PATHS /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/openblas64-serial NO_DEFAULT_PATH
    DOC "Static serial OpenBLAS with 64-bit integers, linked into the tools")
  find_library(QVDEP_GFORTRAN_LIBRARY NAMES libgfortran.so.5 gfortran
    DOC "The Fortran runtime the OpenBLAS archive's LAPACK calls")
  if(NOT QVDEP_TOOL_LAPACK_ARCHIVE OR NOT QVDEP_GFORTRAN_LIBRARY)
    message(FATAL_ERROR "the tools' serial OpenBLAS (libopenblas64.a of libopenblas64-serial-dev) "
                        "or libgfortran.so.5 was not found: run scripts/setup tool, or configure "
                        "with -DQVDEP_TOOL_LAPACK=OFF to build the tools without the bias-adjusted "
                        "LM and CD*")
  endif()
  # A threaded build has OpenBLAS's thread server in it.
  execute_process(COMMAND ${CMAKE_NM} --defined-only "${QVDEP_TOOL_LAPACK_ARCHIVE}"
                  COMMAND grep -c -w blas_thread_init
                  OUTPUT_VARIABLE _qvdep_thread_server OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  if(NOT _qvdep_thread_server STREQUAL "0")
    message(FATAL_ERROR "${QVDEP_TOOL_LAPACK_ARCHIVE} starts threads (it defines "
                        "blas_thread_init): the tools need the serial build, "
                        "libopenblas64-serial-dev's")
  endif()
  message(STATUS "The tools' LAPACK and BLAS: ${QVDEP_TOOL_LAPACK_ARCHIVE} "
                 "(serial OpenBLAS, linked in and hidden)")
endif()

# The routines the analysis calls, and OpenBLAS's own description of the
# build and of the kernels it chose (printed by the end-to-end benchmark).
set(QVDEP_TOOL_LAPACK_ROUTINES
  dgeqrf_ dorgqr_ dgels_ dtrtrs_ dsyevr_ dgemm_ dsyrk_ openblas_get_config
  openblas_get_corename)

function(qvdep_add_tool_lapack target)
  set(whole "${CMAKE_CURRENT_BINARY_DIR}/tool_lapack_whole.o")
  set(object "${CMAKE_CURRENT_BINARY_DIR}/tool_lapack.o")
  set(pull "")
  set(rename "")
  foreach(routine ${QVDEP_TOOL_LAPACK_ROUTINES})
    string(REGEX REPLACE "_$" "" name "qvdep_${routine}")
    list(APPEND pull -Wl,-u,${routine})
    # GNU objcopy keeps a symbol global by its new name, llvm-objcopy by its
    # old one: both are named.
    list(APPEND rename --redefine-sym ${routine}=${name}
                       --keep-global-symbol=${routine} --keep-global-symbol=${name})
  endforeach()
  # The compiler driver runs its linker with the target set: ld.lld, which
  # CMake takes for the linker under clang, does not guess it from an
  # archive alone.
  add_custom_command(OUTPUT "${object}"
    COMMAND ${CMAKE_C_COMPILER} -r -nostdlib -o "${whole}" ${pull} "${QVDEP_TOOL_LAPACK_ARCHIVE}"
    COMMAND ${CMAKE_OBJCOPY} ${rename} "${whole}" "${object}"
    COMMAND ${CMAKE_COMMAND} -E rm -f "${whole}"
    DEPENDS "${QVDEP_TOOL_LAPACK_ARCHIVE}" "${CMAKE_CURRENT_FUNCTION_LIST_FILE}"
    COMMENT "Linking the tools' serial OpenBLAS into one object with its symbols hidden"
    VERBATIM)
  set_source_files_properties("${object}" PROPERTIES EXTERNAL_OBJECT TRUE GENERATED TRUE)
  target_sources(${target} PRIVATE "${object}")
  target_link_libraries(${target} PRIVATE "${QVDEP_GFORTRAN_LIBRARY}" m)
endfunction()
