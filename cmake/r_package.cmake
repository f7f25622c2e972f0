# What the R package (r/) compiles its code against, for its configure
# script: R compiles the package's own sources (the Rcpp glue) and links
# them with the analysis and report libraries built here, and the package
# carries the module built here in its libs/ folder.
#
# The target qvdep_r_package builds the module and the libraries, and
# r-package.mk in the build tree gives, as make variables:
#
#   QVDEP_CPPFLAGS  the include folders and definitions that linking
#                   qvdep_analysis and qvdep_report brings (their layers'
#                   folders, include/ and the header libraries)
#   QVDEP_LIBS      the static libraries, in one group so that their order
#                   does not matter, and the system libraries they need
#   QVDEP_MODULE    the module
#
# The libraries are those the command-line tool and the Python package
# link, the tools' serial OpenBLAS hidden inside them (tool_lapack.cmake),
# so the R package's figures are theirs to the bit.

# The link items of `target`'s link interface, depth first: static
# libraries built here and imported libraries (as their files, for the
# build's configuration), and flags or system libraries as given.
# Header-only and interface targets contribute what they link.
function(_qvdep_link_items target archives_var others_var)
  set(archives ${${archives_var}})
  set(others ${${others_var}})
  get_target_property(type ${target} TYPE)
  get_target_property(imported ${target} IMPORTED)
  if(imported)
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      list(APPEND others "$<TARGET_FILE:${target}>")
    endif()
  elseif(type STREQUAL "STATIC_LIBRARY")
    list(APPEND archives "$<TARGET_FILE:${target}>")
  endif()
  get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
  if(links)
    foreach(item ${links})
      # A static library's private dependencies are $<LINK_ONLY:...>.
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
      if(TARGET ${item})
        list(FIND archives "$<TARGET_FILE:${item}>" seen)
        if(seen EQUAL -1)
          _qvdep_link_items(${item} archives others)
        endif()
      elseif(item MATCHES "^(/|-)")
        list(APPEND others "${item}")
      elseif(item MATCHES "^\\$<")
        message(FATAL_ERROR "the R package: cannot place link item ${item} of ${target}")
      else()
        list(APPEND others "-l${item}")
      endif()
    endforeach()
  endif()
  set(${archives_var} ${archives} PARENT_SCOPE)
  set(${others_var} ${others} PARENT_SCOPE)
endfunction()

set(_qvdep_r_archives "")
set(_qvdep_r_others "")
foreach(library qvdep_analysis qvdep_report)
  _qvdep_link_items(${library} _qvdep_r_archives _qvdep_r_others)
endforeach()
list(REMOVE_DUPLICATES _qvdep_r_archives)
list(REMOVE_DUPLICATES _qvdep_r_others)
list(JOIN _qvdep_r_archives " " _qvdep_r_archive_line)
list(JOIN _qvdep_r_others " " _qvdep_r_other_line)

# Include folders the compiler searches anyway (/usr/include, where the
# header libraries are) are left out: named again with -I they would come
# before the C++ library's own wrappers of the C headers.
set(_qvdep_r_implicit "")
foreach(folder ${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES})
  string(REGEX REPLACE "([][+.*()^$])" "\\\\\\1" folder "${folder}")
  list(APPEND _qvdep_r_implicit "^${folder}/?$")
endforeach()
list(JOIN _qvdep_r_implicit "|" _qvdep_r_implicit)
set(_qvdep_r_includes "")
set(_qvdep_r_definitions "")
foreach(library qvdep_analysis qvdep_report)
  list(APPEND _qvdep_r_includes "$<TARGET_PROPERTY:${library},INTERFACE_INCLUDE_DIRECTORIES>")
  list(APPEND _qvdep_r_definitions "$<TARGET_PROPERTY:${library},INTERFACE_COMPILE_DEFINITIONS>")
endforeach()
set(_qvdep_r_includes
  "$<FILTER:$<REMOVE_DUPLICATES:${_qvdep_r_includes}>,EXCLUDE,${_qvdep_r_implicit}>")
set(_qvdep_r_definitions "$<REMOVE_DUPLICATES:${_qvdep_r_definitions}>")
set(_qvdep_r_cppflags "-I$<JOIN:${_qvdep_r_includes}, -I>")
string(APPEND _qvdep_r_cppflags
  "$<$<BOOL:${_qvdep_r_definitions}>: -D$<JOIN:${_qvdep_r_definitions}, -D>>")

file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/r-package.mk" CONTENT
"# Written by CMake (cmake/r_package.cmake) for the R package's configure script.
QVDEP_CPPFLAGS = ${_qvdep_r_cppflags}
QVDEP_LIBS = -Wl,--start-group ${_qvdep_r_archive_line} -Wl,--end-group ${_qvdep_r_other_line}
QVDEP_MODULE = $<TARGET_FILE:qvdep>
")

add_custom_target(qvdep_r_package DEPENDS qvdep qvdep_analysis qvdep_report)
