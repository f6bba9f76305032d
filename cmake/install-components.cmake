# Every installed file belongs to one of three install components, and each
# component becomes one Debian package (cmake/packaging.cmake):
#
#   runtime      libkorvax1      the shared libraries programs load
#   development  libkorvax-dev   headers, the libX.so links, the CMake package,
#                                the pkg-config file
#   tools        korvax-tools    the programs and their man pages
#
# Install through the helpers below and a new library or program lands in
# the right package by itself; a plain install() needs a COMPONENT of these
# three. The packages test (tests/packages) fails on any installed file that
# no package holds.
set(KORVAX_RUNTIME_COMPONENT runtime)
set(KORVAX_DEVELOPMENT_COMPONENT development)
set(KORVAX_TOOLS_COMPONENT tools)

# A shared library of ours: the library file and its SONAME link for the
# runtime package, the libX.so link that linkers look for for the
# development one. EXPORT adds it to an export set (the CMake package).
# RUNTIME_ONLY: a library that is loaded by its SONAME and has no installed
# header (the built-in VISA library and the simulator it links): no libX.so
# link, nobody is to link with it.
function(korvax_install_library target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "RUNTIME_ONLY" "EXPORT" "")
  set(export)
  if(arg_EXPORT)
    set(export EXPORT ${arg_EXPORT})
  endif()
  if(arg_RUNTIME_ONLY)
    set(namelink NAMELINK_SKIP)
  else()
    set(namelink NAMELINK_COMPONENT ${KORVAX_DEVELOPMENT_COMPONENT})
  endif()
  install(TARGETS ${target} ${export}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
      COMPONENT ${KORVAX_RUNTIME_COMPONENT} ${namelink}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${KORVAX_RUNTIME_COMPONENT}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endfunction()

# Installed programs find the libraries beside them, relative to where they
# lie (RUNPATH, so that LD_LIBRARY_PATH still wins): a tree installed under
# any prefix, or moved, runs without ldconfig or LD_LIBRARY_PATH.
set(KORVAX_PROGRAM_RUNPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
function(korvax_installed_program target)
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${KORVAX_PROGRAM_RUNPATH}")
  target_link_options(${target} PRIVATE -Wl,--enable-new-dtags)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    COMPONENT ${KORVAX_TOOLS_COMPONENT})
endfunction()
