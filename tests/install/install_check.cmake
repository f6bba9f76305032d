# Installs the build tree under WORK/staged, moves it to WORK/moved (a
# relocated install must work as well as one in place), then builds and runs
# examples/switch_session.c against it both ways and runs the installed korvax.
file(REMOVE_RECURSE ${WORK})
set(ENV{LD_LIBRARY_PATH} "")
set(ENV{KORVAX_VISA_LIBRARY} "")
set(ENV{KORVAX_VISA_RESOURCES} "${SOURCE}/examples/demo-resources.conf")

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGV}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${WORK}/staged)
file(RENAME ${WORK}/staged ${WORK}/moved)
set(prefix ${WORK}/moved)
file(GLOB_RECURSE pcfile ${prefix}/*/KORVAX.pc)
get_filename_component(pcdir "${pcfile}" DIRECTORY)

# A consumer built by the sanitizer builds carries their flags too: the
# installed library needs their run-time.
separate_arguments(consumer_flags UNIX_COMMAND "${CONSUMER_FLAGS}")

# pkg-config: the flags name the moved tree.
set(ENV{PKG_CONFIG_PATH} "${pcdir}")
run(pkg-config --cflags --libs KORVAX)
separate_arguments(flags UNIX_COMMAND "${out}")
run(pkg-config --variable=libdir KORVAX)
string(STRIP "${out}" libdir)
if(NOT libdir MATCHES "^${prefix}/")
  message(FATAL_ERROR "pkg-config's libdir ${libdir} is not under ${prefix}")
endif()
run(${CC} ${consumer_flags} ${SOURCE}/examples/switch_session.c ${flags} -o ${WORK}/session-pkgconfig)
run(${WORK}/session-pkgconfig)
message(STATUS "pkg-config build:\n${out}")

# find_package(KORVAX) from the moved tree.
run(${CMAKE_COMMAND} -S ${SOURCE}/tests/install/consumer -B ${WORK}/consumer -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_C_COMPILER=${CC} -DEXAMPLE=${SOURCE}/examples/switch_session.c
    "-DCMAKE_C_FLAGS=${CONSUMER_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK}/consumer)
run(${WORK}/consumer/switch_session)
message(STATUS "find_package build:\n${out}")

# The installed command finds its library by its own run path.
run(${prefix}/bin/korvax --version)
if(NOT out MATCHES "${VERSION}")
  message(FATAL_ERROR "korvax --version printed '${out}', not ${VERSION}")
endif()
run(${prefix}/bin/korvax --sim RQ523 --json find)
