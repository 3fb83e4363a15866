# The H1 driver library's operations, read from their one table (src/vocabulary/h1_operations.h):
#   TAV_H1_OPERATIONS          the names, in the table's order
#   TAV_H1_ORDINALS            their ordinals
#   TAV_H1_ARGUMENT_BYTES      the bytes of their arguments in a 32-bit process
# and tav_write_h1_library_def(FILE DLL_NAME DECORATED), the module-definition file that exports
# them by ordinal alone from DLL_NAME, with the stdcall "@N" when DECORATED; and
# tav_export_h1_operations(TARGET), the linker's version script that lets a shared library of the
# H1 operations (libh1tcp.so, libh1eth.so) export the eleven names and nothing else.
include_guard(GLOBAL)

set(table ${CMAKE_CURRENT_LIST_DIR}/../src/vocabulary/h1_operations.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${table})
file(STRINGS ${table} rows REGEX "^ *\\{\"H1[A-Za-z0-9]+\", [0-9]+, [0-9]+\\},$")
set(TAV_H1_OPERATIONS "")
set(TAV_H1_ORDINALS "")
set(TAV_H1_ARGUMENT_BYTES "")
foreach(row IN LISTS rows)
  string(REGEX MATCH "\"(H1[A-Za-z0-9]+)\", ([0-9]+), ([0-9]+)" _ "${row}")
  list(APPEND TAV_H1_OPERATIONS ${CMAKE_MATCH_1})
  list(APPEND TAV_H1_ORDINALS ${CMAKE_MATCH_2})
  list(APPEND TAV_H1_ARGUMENT_BYTES ${CMAKE_MATCH_3})
endforeach()
list(LENGTH TAV_H1_OPERATIONS count)
if(NOT count EQUAL 11)
  message(FATAL_ERROR "${table}: ${count} rows of H1 operations read, not 11")
endif()

function(tav_write_h1_library_def file dll_name decorated)
  set(text "; The closed H1 driver library: the driver imports its operations by ordinal only.\n")
  string(APPEND text "LIBRARY ${dll_name}\nEXPORTS\n")
  foreach(name ordinal bytes IN ZIP_LISTS TAV_H1_OPERATIONS TAV_H1_ORDINALS TAV_H1_ARGUMENT_BYTES)
    set(decoration "")
    if(decorated)
      set(decoration "@${bytes}")
    endif()
    string(APPEND text "${name}${decoration} @${ordinal} NONAME\n")
  endforeach()
  file(CONFIGURE OUTPUT ${file} CONTENT "${text}")
endfunction()

# The version script, written once into the build tree from the same table as the .def.
set(TAV_H1_LIBRARY_MAP ${CMAKE_BINARY_DIR}/h1library.map)
function(tav_write_h1_library_map file)
  set(text "/* The eleven operations of the H1 driver library; everything else stays inside. */\n")
  string(APPEND text "{\n  global:\n")
  foreach(name IN LISTS TAV_H1_OPERATIONS)
    string(APPEND text "    ${name};\n")
  endforeach()
  string(APPEND text "  local: *;\n};\n")
  file(CONFIGURE OUTPUT ${file} CONTENT "${text}")
endfunction()

function(tav_export_h1_operations target)
  tav_write_h1_library_map(${TAV_H1_LIBRARY_MAP})
  target_link_options(${target} PRIVATE -Wl,--version-script=${TAV_H1_LIBRARY_MAP})
  set_target_properties(${target} PROPERTIES LINK_DEPENDS ${TAV_H1_LIBRARY_MAP})
endfunction()
