# The header-only libraries of the cross build. Boost.Math, CLI11, nlohmann
# JSON and {fmt} (in its header-only mode) need nothing compiled for the
# target, so the cross compiler reads Debian's headers through a folder that
# holds only these four, and never the rest of the host's /usr/include.
set(QVDEP_HEADER_SHIM "${CMAKE_BINARY_DIR}/header_libraries")
file(MAKE_DIRECTORY "${QVDEP_HEADER_SHIM}")
foreach(dir boost CLI nlohmann fmt)
  if(NOT EXISTS "/usr/include/${dir}")
    message(FATAL_ERROR "/usr/include/${dir} not found: run scripts/setup")
  endif()
  file(CREATE_LINK "/usr/include/${dir}" "${QVDEP_HEADER_SHIM}/${dir}" SYMBOLIC)
endforeach()

foreach(target Boost::headers CLI11::CLI11 nlohmann_json::nlohmann_json fmt::fmt)
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  target_include_directories(${target} SYSTEM INTERFACE "${QVDEP_HEADER_SHIM}")
endforeach()
target_compile_definitions(fmt::fmt INTERFACE FMT_HEADER_ONLY=1)
