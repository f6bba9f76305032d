# Reads the export and import tables of KORVAX.dll (objdump -p) and fails
# unless:
#  - exactly the 25 operations are exported, each at its ordinal;
#  - VISA64.dll is imported by ordinal only, exactly the seven functions;
#  - no DLL is imported beside VISA64.dll and Windows' own DLLs.
# Usage: cmake -DOBJDUMP=... -DDLL=.../KORVAX.dll -P check_dll_tables.cmake
set(expected_exports
  1:KORVAXBoardInPlaceHDW 2:KORVAX_BoardInPlace 3:KORVAX_BoardInPlaceInfo 4:KORVAX_Clear
  5:KORVAX_Connect 6:KORVAX_ErrorCodeToMessage 7:KORVAX_FindRsrc 8:KORVAX_GetCardSize
  9:KORVAX_GetCardType 10:KORVAX_GetControlMode 11:KORVAX_GetDeviceInfo
  12:KORVAX_GetHWVersion 13:KORVAX_GetLibVersion 14:KORVAX_GetSN 15:KORVAX_Init
  16:KORVAX_OnlineUpdate 17:KORVAX_OpMatrix 18:KORVAX_OpenSpecifiedCard 19:KORVAX_SCPIQuery
  20:KORVAX_SPILoopTestInfo 21:KORVAX_SelfTest 22:KORVAX_SetCardSN 23:KORVAX_SetControlMode
  24:KORVAX_SetIPAddress 25:KORVAX_SetSN)
# viFindRsrc, viFindNext, viOpen, viClose, viOpenDefaultRM, viRead, viWrite
set(expected_visa_ordinals 129 130 131 132 141 256 257)
# Windows' own DLLs (upper case). msvcrt.dll is the C runtime every MinGW
# program uses; it ships with Windows.
set(system_dll_regex "^(KERNEL32|MSVCRT|UCRTBASE|WS2_32|ADVAPI32|USER32|API-MS-WIN-[A-Z0-9-]+)\\.DLL$")

if(NOT OBJDUMP OR NOT DLL)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=<objdump> -DDLL=<dll> -P check_dll_tables.cmake")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()
string(REPLACE ";" "," dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")

set(base "")
set(section "")
set(current_dll "")
set(exports "")
set(dlls "")
set(visa_ordinals "")
set(problems "")
foreach(line IN LISTS lines)
  if(line MATCHES "^Ordinal Base[ \t]+([0-9]+)")
    set(base ${CMAKE_MATCH_1})
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(section names)
  elseif(line MATCHES "^[ \t]*DLL Name: (.+)$")
    set(section imports)
    set(current_dll "${CMAKE_MATCH_1}")
    list(APPEND dlls "${current_dll}")
  elseif(line MATCHES "^[ \t]*$")
    set(section "")
  elseif(section STREQUAL "names" AND line MATCHES "^[ \t]*\\[ *([0-9]+)\\] (.+)$")
    math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
    list(APPEND exports "${ordinal}:${CMAKE_MATCH_2}")
  elseif(section STREQUAL "imports" AND current_dll STREQUAL "VISA64.dll"
         AND line MATCHES "^[ \t]*([0-9a-fA-F]+)[ \t]+([0-9a-fA-F]+)[ \t]+(.+)$")
    set(thunk ${CMAKE_MATCH_1})
    set(name "${CMAKE_MATCH_3}")
    # An import by ordinal has the top bit of its 64-bit thunk set and no name.
    if(NOT thunk MATCHES "^8000000000000*([0-9a-fA-F]+)$" OR NOT name STREQUAL "<none>")
      list(APPEND problems "VISA64.dll imported by name: ${line}")
    else()
      math(EXPR ordinal "0x${CMAKE_MATCH_1}")
      list(APPEND visa_ordinals ${ordinal})
    endif()
  endif()
endforeach()

if(NOT exports STREQUAL expected_exports)
  list(APPEND problems "exports are [${exports}], expected [${expected_exports}]")
endif()
list(SORT visa_ordinals COMPARE NATURAL)
if(NOT visa_ordinals STREQUAL expected_visa_ordinals)
  list(APPEND problems
    "VISA64.dll ordinals are [${visa_ordinals}], expected [${expected_visa_ordinals}]")
endif()
set(visa_seen FALSE)
foreach(dll IN LISTS dlls)
  string(TOUPPER "${dll}" upper)
  if(dll STREQUAL "VISA64.dll")
    set(visa_seen TRUE)
  elseif(NOT upper MATCHES "${system_dll_regex}")
    list(APPEND problems "imports ${dll}, which is neither VISA64.dll nor a Windows DLL")
  endif()
endforeach()
if(NOT visa_seen)
  list(APPEND problems "VISA64.dll is not imported")
endif()

if(problems)
  string(REPLACE ";" "\n  " text "${problems}")
  message(FATAL_ERROR "${DLL}:\n  ${text}")
endif()
list(LENGTH exports n)
message(STATUS "${n} exports at their ordinals; imports: ${dlls}; VISA64.dll by ordinal ${visa_ordinals}")
