# Windows test programs run under Wine: CMAKE_CROSSCOMPILING_EMULATOR (the windows presets set it to
# tests/win32/run_under_wine.sh) runs each one with the build tree's own WINEPREFIX. The 64-bit
# build (windows-x64) runs under Wine's 64-bit loader, which every x86-64 machine can run. Whether
# this machine can run the 32-bit build's tests is found out when the test runs: where the kernel
# cannot execute 32-bit x86 programs, Wine cannot either, and every Windows test of that build
# reports a skip with that reason. Elsewhere a missing Wine fails the tests.
include(ExternalProject)

set(TAV_WINE_SKIP_REASON
    "skipped: (this machine cannot run 32-bit programs|32-bit Wine could not be installed)")
set(TAV_WINEPREFIX ${CMAKE_BINARY_DIR}/wine CACHE PATH "WINEPREFIX of the Windows tests")
# Programs for the build machine itself: the 32-bit probe and the Linux side of the serial test.
# They are the same for every Windows build, so the windows presets share one folder
# (build/build-machine): the second preset finds them built.
set(TAV_BUILD_MACHINE_PROGRAMS ${CMAKE_BINARY_DIR}/build_machine CACHE PATH
    "Folder of the build machine's test programs")

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/win32/run_under_wine.sh)
endif()
list(GET CMAKE_CROSSCOMPILING_EMULATOR 0 TAV_WINE_RUNNER)
# How the runner is told which Wine to use: the 64-bit loader, or the 32-bit one after the probe.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TAV_WINE_RUNNER_OPTIONS --win64)
else()
  set(TAV_WINE_RUNNER_OPTIONS --probe ${TAV_BUILD_MACHINE_PROGRAMS}/probe_i386)
endif()
# Every Windows program target made from here on runs through the runner, with this build's
# prefix and Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${TAV_WINE_RUNNER} --prefix ${TAV_WINEPREFIX}
                                  ${TAV_WINE_RUNNER_OPTIONS})

# tav_wine_tests(TEST...): the properties every test run under Wine carries.
function(tav_wine_tests)
  set_tests_properties(${ARGN} PROPERTIES SKIP_REGULAR_EXPRESSION "${TAV_WINE_SKIP_REASON}"
                                          LABELS wine TIMEOUT 300)
endfunction()

# tav_wine_gtests(TARGET [SOURCES file...]): one CTest test per GoogleTest test of the Windows
# program TARGET, found in its sources or the SOURCES named (those of the cases it links from a
# library; the program cannot be asked for its tests where Wine does not run), each run from the
# folder of the programs and DLLs.
function(tav_wine_gtests target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES")
  set(sources "")
  if(arg_SOURCES)
    set(sources SOURCES ${arg_SOURCES})
  endif()
  # GCC 12 at -O3 warns falsely inside libstdc++'s std::string and std::vector (its bugs 105329 and
  # 105651), which the Release build of the tests' tables and texts sets off.
  target_compile_options(${target} PRIVATE -Wno-restrict -Wno-maybe-uninitialized)
  gtest_add_tests(TARGET ${target} ${sources} WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
                  TEST_PREFIX "${TAV_TEST_PREFIX}" TEST_LIST tests)
  tav_wine_tests(${tests})
endfunction()

# The build machine's programs, built with its own compiler. The first build makes them; a second
# build of the DLL (TAV_TEST_PREFIX set) uses the first one's.
if(TAV_TEST_PREFIX STREQUAL "")
  ExternalProject_Add(build_machine_programs
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/tests/win32/build_machine
    BINARY_DIR ${TAV_BUILD_MACHINE_PROGRAMS}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
  # The test H1 station that libh1eth's DLL talks to under Wine, and the bad network's relay: the
  # project built for the build machine, those two programs alone.
  ExternalProject_Add(build_machine_h1_station
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${TAV_BUILD_MACHINE_PROGRAMS}/project
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DTAV_BUILD_TOOLS=OFF
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target h1_station bad_network
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
endif()
set(TAV_BUILD_MACHINE_H1_STATION ${TAV_BUILD_MACHINE_PROGRAMS}/project/tests/h1eth/h1_station)
set(TAV_BUILD_MACHINE_BAD_NETWORK ${TAV_BUILD_MACHINE_PROGRAMS}/project/tests/h1eth/bad_network)
