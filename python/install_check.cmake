# pip-installs the package from a copy of its source (so the source tree
# stays clean), with the shared libraries it loads copied into it as package
# data, into a fresh virtual environment, without network; then runs the
# package's tests on the installed copy with nothing pointing elsewhere
# (no KORVAX_LIBRARY): the installed package finds everything it needs.
file(REMOVE_RECURSE ${WORK})
file(COPY ${SOURCE}/ DESTINATION ${WORK}/src PATTERN __pycache__ EXCLUDE)
foreach(library IN LISTS LIBRARIES)
  get_filename_component(name ${library} NAME)
  configure_file(${library} ${WORK}/src/korvax/${name} COPYONLY)  # the file a soname link points at
endforeach()

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGV}\n${out}")
  endif()
  message(STATUS "${out}")
endfunction()

set(alone ${CMAKE_COMMAND} -E env --unset=KORVAX_LIBRARY --unset=KORVAX_SWITCH_LIBRARY --unset=LD_LIBRARY_PATH)
run(${PYTHON} -m venv --system-site-packages ${WORK}/venv)
run(${WORK}/venv/bin/python -m pip install --no-build-isolation --no-index --no-deps --quiet ${WORK}/src)
# Imported from the venv's site-packages, not from the copy, and so are the
# libraries.
run(${alone} ${WORK}/venv/bin/python -c
    "import korvax, korvax.switching as s; paths = [korvax.__file__, korvax.library()._name, s.library()._name]; assert all('site-packages' in p for p in paths), paths; print(paths, korvax.library_version())")
run(${alone} KORVAX_TEST_INSTALLED=1 KORVAX_HEADER=${SOURCE}/../include/KORVAX.h
    ${WORK}/venv/bin/python -m pytest -q -p no:cacheprovider ${WORK}/src/tests)
