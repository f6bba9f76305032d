# pip-installs the package from a copy of its source (so the source tree
# stays clean) into a fresh virtual environment, without network, then runs
# the package's tests on the installed copy.
file(REMOVE_RECURSE ${WORK})
file(COPY ${SOURCE}/ DESTINATION ${WORK}/src PATTERN __pycache__ EXCLUDE)

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGV}\n${out}")
  endif()
  message(STATUS "${out}")
endfunction()

run(${PYTHON} -m venv --system-site-packages ${WORK}/venv)
run(${WORK}/venv/bin/python -m pip install --no-build-isolation --no-index --no-deps --quiet ${WORK}/src)
# Imported from the venv's site-packages, not from the copy.
run(${CMAKE_COMMAND} -E env KORVAX_LIBRARY=${LIBRARY} --
    ${WORK}/venv/bin/python -c
    "import korvax, sys; assert 'site-packages' in korvax.__file__, korvax.__file__; print(korvax.__file__, korvax.library_version())")
run(${CMAKE_COMMAND} -E env KORVAX_LIBRARY=${LIBRARY} KORVAX_TEST_INSTALLED=1
    KORVAX_HEADER=${SOURCE}/../include/KORVAX.h --
    ${WORK}/venv/bin/python -m pytest -q -p no:cacheprovider ${WORK}/src/tests)
