# Builds the wheel users install (python3 -m build, from a copy of the source
# so that the source tree stays clean), installs it with pip into a fresh
# virtual environment without network, then runs the package's tests on the
# installed copy.
file(REMOVE_RECURSE ${WORK})
file(COPY ${SOURCE}/ DESTINATION ${WORK}/src PATTERN __pycache__ EXCLUDE)

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGV}\n${out}")
  endif()
  message(STATUS "${out}")
  set(out "${out}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND ${PYTHON} -c "import build" RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${PYTHON} has no 'build' module (apt-get install python3-build)")
endif()
run(${PYTHON} -m build --no-isolation --wheel --outdir ${WORK}/dist ${WORK}/src)
# One pure-Python wheel for every platform, of the project's version: the
# package loads libKORVAX from the system (libkorvax1) or KORVAX_LIBRARY,
# and the wheel carries no library of its own.
set(wheel ${WORK}/dist/korvax-${VERSION}-py3-none-any.whl)
if(NOT EXISTS ${wheel})
  file(GLOB built ${WORK}/dist/*)
  message(FATAL_ERROR "expected ${wheel}; built: ${built}")
endif()
run(${PYTHON} -m zipfile -l ${wheel})
if(out MATCHES "\\.so")
  message(FATAL_ERROR "the wheel carries a shared library:\n${out}")
endif()

run(${PYTHON} -m venv --system-site-packages ${WORK}/venv)
run(${WORK}/venv/bin/python -m pip install --no-index --no-deps --quiet ${wheel})
# Imported from the venv's site-packages, not from the copy, and libKORVAX
# found by its SONAME on the loader's path, as a Debian user's in /usr/lib
# (LD_LIBRARY_PATH standing in for it here). Lines, not semicolons: a
# semicolon would split the program into several arguments.
get_filename_component(libdir ${LIBRARY} DIRECTORY)
run(${CMAKE_COMMAND} -E env --unset=KORVAX_LIBRARY LD_LIBRARY_PATH=${libdir} --
    ${WORK}/venv/bin/python -c [[
import korvax, korvax._library as loader, korvax.switching as switching
assert 'site-packages' in korvax.__file__, korvax.__file__
assert loader.library()._name == 'libKORVAX.so.1', loader.library()._name
assert switching.library()._name.endswith('libkorvaxswitch.so.1'), switching.library()._name
print(korvax.__file__, korvax.library_version())
]])
run(${CMAKE_COMMAND} -E env KORVAX_LIBRARY=${LIBRARY} KORVAX_TEST_INSTALLED=1
    KORVAX_HEADER=${SOURCE}/../include/KORVAX.h --
    ${WORK}/venv/bin/python -m pytest -q -p no:cacheprovider ${WORK}/src/tests)
