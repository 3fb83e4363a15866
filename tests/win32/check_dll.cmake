cmake_minimum_required(VERSION 3.25)
# Reads the DLL's export and import tables with objdump -p and checks what the host and the H1
# driver library rely on:
#   - the export table holds TavMain alone, by name;
#   - err is imported by name from KORHOST.DLL;
#   - the H1 operations are imported by ordinal only (EXPECTED_H1_ORDINALS, all of them) from
#     the H1 library DLL;
#   - nothing else is imported but Windows system DLLs.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump COMMAND_ERROR_IS_FATAL ANY)

string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(\t[^\n]+\n)*" export_block "${dump}")
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]+" exports "${export_block}")
list(TRANSFORM exports REPLACE "^\t\\[ *[0-9]+\\] " "")
if(NOT exports STREQUAL "TavMain")
  message(FATAL_ERROR "exports: '${exports}'; expected TavMain alone")
endif()

set(system_dlls KERNEL32.DLL MSVCRT.DLL USER32.DLL ADVAPI32.DLL NTDLL.DLL)
string(TOUPPER "${H1_DLL}" h1_dll)
set(h1_ordinals "")

# Each import block: "DLL Name: X" followed by rows "vma hint/ordinal name".
string(REGEX MATCHALL "DLL Name: [^\n]+\n[^\n]*\n(\t[^\n]+\n)*" blocks "${dump}")
foreach(block IN LISTS blocks)
  string(REGEX MATCH "DLL Name: ([^\n]+)" _ "${block}")
  string(TOUPPER "${CMAKE_MATCH_1}" dll)
  string(REGEX MATCHALL "\t[0-9a-f]+\t +[0-9a-f]+ +[^\n]+" rows "${block}")
  if(dll STREQUAL "KORHOST.DLL")
    foreach(row IN LISTS rows)
      if(NOT row MATCHES " err$")
        message(FATAL_ERROR "unexpected import from KORHOST.DLL: ${row}")
      endif()
      set(found_err TRUE)
    endforeach()
  elseif(dll STREQUAL h1_dll)
    foreach(row IN LISTS rows)
      # The thunk's top bit marks an import by ordinal. objdump shows a 32-bit DLL's ordinal in
      # decimal and a 64-bit DLL's (16-digit thunks) in hexadecimal.
      if(NOT row MATCHES "\t8([0-9a-f]+)\t +([0-9a-f]+) +<none>$")
        message(FATAL_ERROR "H1 operation not imported by ordinal alone: ${row}")
      endif()
      set(ordinal ${CMAKE_MATCH_2})
      string(LENGTH "${CMAKE_MATCH_1}" thunk_digits)
      if(thunk_digits GREATER 8)
        math(EXPR ordinal "0x${ordinal}")
      endif()
      list(APPEND h1_ordinals ${ordinal})
    endforeach()
  elseif(NOT dll IN_LIST system_dlls AND NOT dll MATCHES "^API-MS-WIN-")
    message(FATAL_ERROR "tavsh1.dll imports from ${dll}, which is no Windows system DLL")
  endif()
endforeach()

if(NOT found_err)
  message(FATAL_ERROR "tavsh1.dll does not import err from KORHOST.DLL")
endif()
list(SORT h1_ordinals COMPARE NATURAL)
set(expected ${EXPECTED_H1_ORDINALS})
list(SORT expected COMPARE NATURAL)
if(NOT "${h1_ordinals}" STREQUAL "${expected}")
  message(FATAL_ERROR "H1 ordinals imported: '${h1_ordinals}'; expected '${expected}'")
endif()
message(STATUS "exports: ${exports}; H1 ordinals: ${h1_ordinals}")
