# Debian packages: `cpack -G DEB` in the build folder makes one package per
# install component (cmake/install-components.cmake), which a Debian user
# installs with `apt install ./NAME.deb`:
#
#   libkorvax1     runtime      libKORVAX.so.1, the built-in VISA library
#                               libkorvaxvisa.so.1 and the simulator library
#                               libkorvaxsim.so.1 it links
#   libkorvax-dev  development  headers, libKORVAX.so, CMake package, KORVAX.pc
#   korvax-tools   tools        korvax, korvax-sim, the browser panel
#                               korvax-panel, their man pages

# ---- man pages ------------------------------------------------------------
# Made from each program's own --help by help2man at build time, so that they
# never disagree with the program. Built by `all`, never by a program's own
# target: `cmake --build build --target korvax` does not need help2man.
find_program(KORVAX_HELP2MAN help2man)
find_program(KORVAX_GZIP gzip)
if(CMAKE_CROSSCOMPILING)
  message(STATUS "Man pages: not made when cross-compiling (the programs cannot run here)")
elseif(NOT KORVAX_HELP2MAN OR NOT KORVAX_GZIP)
  message(STATUS "Man pages: help2man not found (apt-get install help2man); korvax-tools will have none")
endif()

# korvax_man_page(PROGRAM SUMMARY): PROGRAM.1.gz from `PROGRAM --help`, with
# the hand-written sections of docs/man/PROGRAM.h2m, installed with the tools.
function(korvax_man_page program summary)
  if(CMAKE_CROSSCOMPILING OR NOT KORVAX_HELP2MAN OR NOT KORVAX_GZIP)
    return()
  endif()
  set(include ${PROJECT_SOURCE_DIR}/docs/man/${program}.h2m)
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  # Run by its bare name from PATH, so that the page's synopsis says
  # "korvax", not the build folder's path.
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env "PATH=$<TARGET_FILE_DIR:${program}>:$ENV{PATH}"
            ${KORVAX_HELP2MAN} --no-info --no-discard-stderr --section=1
            "--name=${summary}" "--version-string=${PROJECT_VERSION}"
            --include=${include} --output=${page} ${program}
    # -n: no file name or time stamp in the .gz, so the page is reproducible.
    COMMAND ${KORVAX_GZIP} -9nf ${page}
    DEPENDS ${program} ${include}
    COMMENT "Man page of ${program}"
    VERBATIM)
  add_custom_target(${program}-man ALL DEPENDS ${page}.gz)
  # OPTIONAL: a build of the programs alone (the main command) still installs.
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT ${KORVAX_TOOLS_COMPONENT} OPTIONAL)
endfunction()

korvax_man_page(korvax "find, inspect and switch relay switch-matrix chassis")
korvax_man_page(korvax-sim "serve simulated relay switch-matrix chassis over the network and on pseudo-terminals")
korvax_man_page(korvax-panel "serve a soft front panel for relay switch-matrix chassis to a web browser")

# ---- CPack ------------------------------------------------------------------
set(KORVAX_PACKAGE_MAINTAINER "KORVAX maintainers <korvax@example.com>"
  CACHE STRING "Maintainer field of the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvax)
set(CPACK_PACKAGE_VENDOR KORVAX)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's Description is its component's below: a summary line, then
# the long text. (A CPACK_PACKAGE_DESCRIPTION_SUMMARY would be put before
# each as the summary of all three.)
set(CPACK_PACKAGE_CONTACT "${KORVAX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KORVAX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# NAME_VERSION-RELEASE_ARCH.deb, as Debian names its packages.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Installed under /usr: libraries in /usr/lib (CMAKE_INSTALL_LIBDIR as
# configured; -DCMAKE_INSTALL_PREFIX=/usr gives the multiarch folder).
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEB_COMPONENT_INSTALL ON)
# Only these: a file installed without one of them is in no package, and
# the packages test says which.
set(CPACK_COMPONENTS_ALL
  ${KORVAX_RUNTIME_COMPONENT} ${KORVAX_DEVELOPMENT_COMPONENT} ${KORVAX_TOOLS_COMPONENT})
# Depends between our packages: NAME (= VERSION-RELEASE), from the component
# dependencies below.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

# Depends on the system's libraries computed by dpkg-shlibdeps from what the
# binaries need (libc6, libstdc++6, ...). Our own libraries are in no
# installed package while packaging: dpkg-shlibdeps finds them in the build's
# library folder and leaves them to the component dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
# libkorvax1 declares its libraries (DEBIAN/shlibs), so that other packages
# built against them depend on libkorvax1 of at least this version; its
# maintainer scripts run ldconfig.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# Binaries stripped, their debug information (with -g, as in the default
# RelWithDebInfo build) in NAME-dbgsym .ddeb packages found by build ID.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkorvax1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkorvax-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME korvax-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION electronics)

include(CPack)

cpack_add_component(${KORVAX_RUNTIME_COMPONENT}
  DISPLAY_NAME "KORVAX library"
  DESCRIPTION "Control library for relay switch-matrix chassis
libKORVAX finds relay switch-matrix chassis (RQ52x) over VISA and opens and
closes their crosspoints. This package holds the library, the built-in VISA
library it loads by default (LAN instruments over VXI-11 and raw sockets,
serial lines, USB) and the chassis simulator that library serves.")
cpack_add_component(${KORVAX_DEVELOPMENT_COMPONENT}
  DISPLAY_NAME "KORVAX development files"
  DESCRIPTION "Control library for relay switch-matrix chassis - development files
The C header KORVAX.h, the extensions header, libKORVAX.so to link with, a
CMake package (find_package(KORVAX): KORVAX::KORVAX) and a pkg-config file
(pkg-config --cflags --libs KORVAX)."
  DEPENDS ${KORVAX_RUNTIME_COMPONENT})
cpack_add_component(${KORVAX_TOOLS_COMPONENT}
  DISPLAY_NAME "KORVAX tools"
  DESCRIPTION "Command-line tools for relay switch-matrix chassis
korvax finds, inspects and switches chassis from a terminal, on hardware or
on simulated chassis (korvax demo runs a whole session on one). korvax-sim
serves the simulated chassis of a resource file over VXI-11, raw TCP
sockets and pseudo-terminals. korvax-panel serves a soft front panel of the
chassis to a web browser."
  DEPENDS ${KORVAX_RUNTIME_COMPONENT})
