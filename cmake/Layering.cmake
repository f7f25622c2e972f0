# The project's layers see each other only through the build's include
# paths: no target puts the source tree's root on its path.
#
# qvdep_public_folder(target folder): the target and whatever links it
# include the folder's headers as "folder/name.h" (a folder may be nested:
# "analysis/stats/name.h"), through a directory in the build tree that
# holds a link to that folder alone; with them comes include/ (qvdep.h). A tool that does not link a layer cannot name its
# headers, and no tool can name the module's.
function(qvdep_public_folder target folder)
  set(root "${CMAKE_BINARY_DIR}/layers/${folder}")
  get_filename_component(parent "${root}/${folder}" DIRECTORY)
  file(MAKE_DIRECTORY "${parent}")
  if(NOT EXISTS "${root}/${folder}")
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}" "${root}/${folder}" SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC "${root}" "${PROJECT_SOURCE_DIR}/include")
endfunction()
