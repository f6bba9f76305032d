# KORVAX.dll: the library for 64-bit Windows, cross-built with MinGW-w64
# (toolchain file cmake/mingw-w64.cmake). Included by the top-level
# CMakeLists.txt instead of the Linux targets; it builds the DLL, its import
# library, and the test programs that run under Wine.
# The extensions of include/korvax/extensions.h belong to the Linux library:
# KORVAX.dll exports exactly the C API of KORVAX.h.
list(FILTER KORVAX_SOURCES EXCLUDE REGEX "/api/extensions\\.cpp$")
list(APPEND KORVAX_SOURCES
  ${PROJECT_SOURCE_DIR}/src/platform/win32.cpp
  ${PROJECT_SOURCE_DIR}/src/connection/visa_loader_win32.cpp)

# VISA64.dll is bound by ordinal only: the import library comes from a
# module-definition file whose entries are all NONAME.
set(KORVAX_VISA64_IMPORT ${CMAKE_BINARY_DIR}/lib/libVISA64.a)
add_custom_command(OUTPUT ${KORVAX_VISA64_IMPORT}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/lib
  COMMAND ${CMAKE_DLLTOOL} -d ${PROJECT_SOURCE_DIR}/src/connection/VISA64.def
          -l ${KORVAX_VISA64_IMPORT}
  DEPENDS ${PROJECT_SOURCE_DIR}/src/connection/VISA64.def
  COMMENT "Import library of VISA64.dll (by ordinal)")
add_custom_target(korvax_visa64_import DEPENDS ${KORVAX_VISA64_IMPORT})

add_library(KORVAX SHARED ${KORVAX_SOURCES} ${PROJECT_SOURCE_DIR}/src/KORVAX.def)
add_dependencies(KORVAX korvax_visa64_import)
target_include_directories(KORVAX
  PUBLIC  ${PROJECT_SOURCE_DIR}/include
  PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
target_compile_definitions(KORVAX PRIVATE KORVAX_BUILDING_LIBRARY)
# KORVAX.dll and KORVAX.lib (a GNU import library, usable by MinGW and MSVC).
set_target_properties(KORVAX PROPERTIES
  PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib"
  LINK_DEPENDS ${KORVAX_VISA64_IMPORT})
# The C and C++ runtimes and the thread library are linked in, so the DLL
# needs nothing beside itself, VISA64.dll and Windows' own DLLs.
target_link_options(KORVAX PRIVATE -static -static-libgcc -static-libstdc++
  -Wl,--no-undefined)
target_link_libraries(KORVAX PRIVATE ${KORVAX_VISA64_IMPORT})

if(KORVAX_BUILD_TESTS)
  enable_testing()
  add_subdirectory(tests/windows)
endif()
