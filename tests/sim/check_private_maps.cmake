# The simulator and the built-in VISA library keep the relay maps they use
# to themselves: exported, they would stand in for libKORVAX's own tables
# in a process that loads both.
foreach(lib IN LISTS LIBS)
  execute_process(COMMAND nm -D --defined-only ${lib} OUTPUT_VARIABLE syms RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${lib}")
  endif()
  if(syms MATCHES "[ \n](GetPoint|InitPointInfo|[A-Za-z0-9_]*Location[A-Za-z0-9_]*)\n")
    message(FATAL_ERROR "${lib} exports the relay map name ${CMAKE_MATCH_1}")
  endif()
endforeach()
