# Import libraries for what the DLL takes from outside: the host's log `err` by name from
# KORHOST.DLL, the H1 driver library's operations by ordinal (NONAME) from TAV_H1_LIBRARY_DLL.
# The same two .def files export these names from the stand-ins built for trying and testing the
# DLL (the simulated network as TAV_H1_LIBRARY_DLL, KORHOST.DLL), so the two sides cannot disagree.
include(${CMAKE_CURRENT_LIST_DIR}/H1Operations.cmake)
set(TAV_WIN32_DIR ${PROJECT_SOURCE_DIR}/src/platform/win32)
# One module-definition file for the H1 library, written from the table of its operations: the
# driver's import library comes from it, and every DLL that stands in for the H1 library exports
# from it, so the ordinals always agree. 32-bit stdcall names carry the size of their arguments;
# x86-64 has one convention and no suffix.
set(TAV_H1_LIBRARY_DEF ${CMAKE_BINARY_DIR}/h1library.def)
set(TAV_KORHOST_DEF ${TAV_WIN32_DIR}/korhost.def)
if(TAV_H1_CALLING_CONVENTION STREQUAL "stdcall" AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  tav_write_h1_library_def(${TAV_H1_LIBRARY_DEF} ${TAV_H1_LIBRARY_DLL} TRUE)
else()
  tav_write_h1_library_def(${TAV_H1_LIBRARY_DEF} ${TAV_H1_LIBRARY_DLL} FALSE)
endif()

function(tav_import_library name def)
  set(output ${CMAKE_BINARY_DIR}/lib${name}.a)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --output-lib ${output}
    DEPENDS ${def} VERBATIM)
  add_custom_target(${name}_import DEPENDS ${output})
  set(${name}_IMPORT_LIBRARY ${output} PARENT_SCOPE)
endfunction()

tav_import_library(korhost ${TAV_KORHOST_DEF})
tav_import_library(h1library ${TAV_H1_LIBRARY_DEF})

# The DLL takes the host log and the H1 operations from the import libraries.
function(tav_link_win32_imports target)
  add_dependencies(${target} korhost_import h1library_import)
  set_property(TARGET ${target} APPEND PROPERTY TAV_SEAM_LIBRARIES ${korhost_IMPORT_LIBRARY}
                                                                   ${h1library_IMPORT_LIBRARY})
endfunction()
