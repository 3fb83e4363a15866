# The H1 driver library's calling convention is fixed when tavsh1.dll is built, so the Windows tests
# run against both: this tree builds the DLL and the simulated network with
# TAV_H1_CALLING_CONVENTION, and a second build in cdecl/ (or stdcall/) with the other one, whose
# tests (the end-to-end tests, the serial test, tavhost) join this tree's, named with its
# convention in front, on the same Wine prefix.
if(TAV_H1_CALLING_CONVENTION STREQUAL "stdcall")
  set(other_convention cdecl)
else()
  set(other_convention stdcall)
endif()
set(other_build ${CMAKE_BINARY_DIR}/${other_convention})

ExternalProject_Add(${other_convention}_build
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${other_build}
  CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
             -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
             -DCMAKE_CROSSCOMPILING_EMULATOR=${TAV_WINE_RUNNER}
             -DTAV_H1_CALLING_CONVENTION=${other_convention}
             -DTAV_H1_LIBRARY_DLL=${TAV_H1_LIBRARY_DLL}
             -DTAV_TEST_PREFIX=${other_convention}.
             -DTAV_WINEPREFIX=${TAV_WINEPREFIX}
             -DTAV_BUILD_MACHINE_PROGRAMS=${TAV_BUILD_MACHINE_PROGRAMS}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON)
# Its programs run under the probe this tree builds.
add_dependencies(${other_convention}_build build_machine_programs)

file(WRITE ${CMAKE_BINARY_DIR}/other_convention_tests.cmake
"if(EXISTS \"${other_build}/CTestTestfile.cmake\")
  subdirs(\"${other_build}\")
endif()
")
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY TEST_INCLUDE_FILES
             ${CMAKE_BINARY_DIR}/other_convention_tests.cmake)
