# What `cmake --install` puts in place: the module (which a host may also
# link directly: it exports its entry points), include/qvdep.h, the qvdep
# tool, a CMake package (find_package(qvdep) gives the imported target
# qvdep::qvdep) and a pkg-config file.
include(CMakePackageConfigHelpers)

target_include_directories(qvdep INTERFACE
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS qvdep EXPORT qvdepTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES include/qvdep.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(TARGET qvdep_tool)
  install(TARGETS qvdep_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(QVDEP_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/qvdep)
install(EXPORT qvdepTargets NAMESPACE qvdep:: DESTINATION ${QVDEP_CMAKE_DIR})
configure_package_config_file(cmake/qvdepConfig.cmake.in
  ${CMAKE_BINARY_DIR}/qvdepConfig.cmake INSTALL_DESTINATION ${QVDEP_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/qvdepConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/qvdepConfig.cmake ${CMAKE_BINARY_DIR}/qvdepConfigVersion.cmake
  DESTINATION ${QVDEP_CMAKE_DIR})

# Relocatable: the prefix is found from the .pc file's own directory.
file(RELATIVE_PATH QVDEP_PC_TO_PREFIX
  ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(cmake/qvdep.pc.in ${CMAKE_BINARY_DIR}/qvdep.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/qvdep.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
