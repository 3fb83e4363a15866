cmake_minimum_required(VERSION 3.25)
# Reads the export tables of the stand-ins beside tavsh1.dll with objdump -p and checks that they
# export what the DLL imports:
#   - the simulated network's DLL is named H1_DLL and exports each H1 operation of H1_DEF by its
#     ordinal alone (no name), at the address of the function the .def names for it, which carries
#     the calling convention's decoration (32-bit stdcall: _H1OpenDriver@0; 32-bit cdecl:
#     _H1OpenDriver; x86-64, which has one convention and no leading underscore: H1OpenDriver); the
#     ordinals are EXPECTED_H1_ORDINALS, and no name of the DLL's begins with H1;
#   - KORHOST.DLL exports err by name.
# Usage: cmake -DH1_DLL_FILE= -DKORHOST_DLL_FILE= -DH1_DEF= -DH1_DLL= -DOBJDUMP= -DNM=
#              -DEXPECTED_H1_ORDINALS= -P check_stand_ins.cmake
function(named_exports dump out)
  string(REGEX MATCH "Ordinal Base ([0-9]+)" _ "${dump}")
  set(base ${CMAKE_MATCH_1})
  string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(\t[^\n]+\n)*" block "${dump}")
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" rows "${block}")
  set(named "")
  foreach(row IN LISTS rows)
    string(REGEX MATCH "\\[ *([0-9]+)\\] ([^\n]+)" _ "${row}")
    math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
    list(APPEND named "${ordinal}=${CMAKE_MATCH_2}")
  endforeach()
  set(${out} "${named}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND ${OBJDUMP} -p ${H1_DLL_FILE} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${NM} ${H1_DLL_FILE} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)

string(REGEX MATCH "\nName[ \t]+[0-9a-f]+ ([^\n]+)" _ "${dump}")
string(TOUPPER "${CMAKE_MATCH_1}" dll_name)
string(TOUPPER "${H1_DLL}" expected_name)
if(NOT dll_name STREQUAL expected_name)
  message(FATAL_ERROR "the simulated network's DLL is named '${CMAKE_MATCH_1}', not ${H1_DLL}")
endif()
if(dump MATCHES "file format pei-x86-64")
  set(symbol_prefix "")
else()
  set(symbol_prefix "_")
endif()
string(REGEX MATCH "ImageBase[ \t]+([0-9a-f]+)" _ "${dump}")
math(EXPR image_base "0x${CMAKE_MATCH_1}")

named_exports("${dump}" named)
foreach(entry IN LISTS named)
  if(entry MATCHES "^[0-9]+=H1")
    message(FATAL_ERROR "an H1 operation is exported by name: ${entry}")
  endif()
endforeach()

file(STRINGS ${H1_DEF} operations REGEX "^H1[A-Za-z0-9@]+ @[0-9]+ NONAME$")
set(ordinals "")
foreach(line IN LISTS operations)
  string(REGEX MATCH "^([^ ]+) @([0-9]+)" _ "${line}")
  set(operation ${CMAKE_MATCH_1})
  set(ordinal ${CMAKE_MATCH_2})
  list(APPEND ordinals ${ordinal})
  if("${named}" MATCHES "(^|;)${ordinal}=")
    message(FATAL_ERROR "ordinal ${ordinal} (${operation}) carries a name")
  endif()
  if(NOT dump MATCHES "\\+base\\[ *${ordinal}\\] ([0-9a-f]+) Export RVA")
    message(FATAL_ERROR "ordinal ${ordinal} (${operation}) is not exported")
  endif()
  math(EXPR address "${image_base} + 0x${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" address "${address}")
  string(REGEX MATCH "0*${address} T ${symbol_prefix}${operation}\n" found "${symbols}")
  if(NOT found)
    message(FATAL_ERROR "ordinal ${ordinal} is not the function ${symbol_prefix}${operation}")
  endif()
endforeach()
list(SORT ordinals COMPARE NATURAL)
set(expected ${EXPECTED_H1_ORDINALS})
list(SORT expected COMPARE NATURAL)
if(NOT "${ordinals}" STREQUAL "${expected}")
  message(FATAL_ERROR "H1 ordinals exported: '${ordinals}'; expected '${expected}'")
endif()

execute_process(COMMAND ${OBJDUMP} -p ${KORHOST_DLL_FILE} OUTPUT_VARIABLE dump
                COMMAND_ERROR_IS_FATAL ANY)
named_exports("${dump}" named)
if(NOT "${named}" MATCHES "(^|;)[0-9]+=err(;|$)")
  message(FATAL_ERROR "KORHOST.DLL does not export err by name: '${named}'")
endif()
message(STATUS "${H1_DLL}: ordinals ${ordinals}, none named; KORHOST.DLL: err")
