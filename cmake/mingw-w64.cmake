# Cross-build of KORVAX.dll for 64-bit Windows with Debian's MinGW-w64
# toolchain (package g++-mingw-w64-x86-64):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVAX_MINGW_PREFIX x86_64-w64-mingw32)
# The POSIX thread model: the library's one-time table set-up uses
# std::call_once, which the win32 thread model of this compiler lacks. The
# thread library is linked statically, so the DLL does not need it at run time.
set(CMAKE_C_COMPILER ${KORVAX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVAX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVAX_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${KORVAX_MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${KORVAX_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVAX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs are run under Wine (see .ci/windows.sh).
find_program(KORVAX_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KORVAX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVAX_WINE})
endif()
