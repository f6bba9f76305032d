# Checks the dynamic symbol table of libKORVAX: the operations and internal
# routines are there under plain names, and no C++ (mangled) name leaks out.
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE syms RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${syms}")
set(names "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  list(APPEND names "${name}")
  if(name MATCHES "^_Z")
    message(FATAL_ERROR "C++ symbol exported: ${name}")
  endif()
endforeach()
set(required
  KORVAX_GetLibVersion KORVAX_ErrorCodeToMessage errmsg globalChassisInfo tmp defaultRM
  first_findrsc currentOpSwitch FindChassis FindIdleChassis SendRecvMsg SendRecvMsgLock
  checkSum dec_2bin ArrayToU16 toInt validIPAddress isdigitstr mystrncpy existLowerCase
  allUpperCase SLEEP getHighPrecisionTime rotateRight alloc2int alloc2ViUInt16 alloc3int
  free2int free2ViUInt16 free3int countOnes countOnes2D countOnes3D LXICHASSIS chassisThreads
  fdtmp)
if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/exported_names.txt)
  file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/exported_names.txt more REGEX "^[A-Za-z_]")
  list(APPEND required ${more})
endif()
foreach(r IN LISTS required)
  list(FIND names "${r}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "missing export: ${r}")
  endif()
endforeach()
list(LENGTH names n)
message(STATUS "${n} exported names, none mangled")
