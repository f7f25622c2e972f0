# cmake -DOBJDUMP=... -DDLL=qvdep.dll -DBLAS_DLL=libblas.dll -P check_dll_tables.cmake
#
# What a host relies on when it loads the DLL from a folder holding nothing
# else, and what the module promises about loading and arithmetic:
# - its export table names exactly qvdep, qvextent, qvextver and qvrelct1;
# - its import table names only KERNEL32.dll, the C runtime and the BLAS DLL
#   (the GCC and C++ runtimes are linked in);
# - no static initialiser of the module's own runs when it is loaded (GCC
#   names each translation unit's initialiser _GLOBAL__sub_I_<file>);
# - no call to a library sqrt: every square root is the processor's.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump -p failed on ${DLL}")
endif()

string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)+" table "${headers}")
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [A-Za-z_0-9@]+" names "${table}")
list(TRANSFORM names REPLACE "^\t\\[ *[0-9]+\\] " "")
list(SORT names)
if(NOT names STREQUAL "qvdep;qvextent;qvextver;qvrelct1")
  message(FATAL_ERROR "exports are '${names}', not the four entry points")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
foreach(dll IN LISTS imports)
  string(TOLOWER "${dll}" lower)
  string(TOLOWER "${BLAS_DLL}" blas)
  if(NOT lower MATCHES "^(kernel32\\.dll|msvcrt\\.dll|ucrtbase\\.dll|api-ms-win-crt-[a-z0-9-]+\\.dll)$"
     AND NOT lower STREQUAL blas)
    message(FATAL_ERROR "imports ${dll}; allowed are KERNEL32, the C runtime and ${BLAS_DLL}")
  endif()
endforeach()
if(NOT "${imports}" MATCHES "${BLAS_DLL}")
  message(FATAL_ERROR "the BLAS DLL ${BLAS_DLL} is not imported (imports: ${imports})")
endif()

execute_process(COMMAND ${OBJDUMP} -t ${DLL} OUTPUT_VARIABLE symbols)
if(symbols MATCHES "_GLOBAL__sub_I_[A-Za-z0-9_]+")
  message(FATAL_ERROR "the module runs an initialiser on load: ${CMAKE_MATCH_0}")
endif()

execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${DLL} OUTPUT_VARIABLE code)
if(code MATCHES "(call|jmp)[^\n]*<[^>\n]*sqrt[^>\n]*>")
  message(FATAL_ERROR "library square root call: ${CMAKE_MATCH_0}")
endif()
if(NOT code MATCHES "sqrtsd|sqrtpd")
  message(FATAL_ERROR "no square root instruction found: disassembly unreadable?")
endif()
message(STATUS "exports ${names}; imports ${imports}")
