# Cross build for 64-bit x86 Windows with Debian's mingw-w64 compilers, in
# their POSIX thread model (GoogleTest needs std::mutex; the threads library
# is linked in statically like the rest of the runtime).
# Programs built this way run on the build machine through Wine, which CTest
# uses as the emulator of every test program (scripts/test-windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QVDEP_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QVDEP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QVDEP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QVDEP_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${QVDEP_MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${QVDEP_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${QVDEP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows paths for the programs: Wine maps the Unix root to drive Z:.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run")
set(QVDEP_HOST_PATH_PREFIX "Z:")
