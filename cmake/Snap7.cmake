# Snap7 (LGPL), an S7 server and client independent of ours, for the end-to-end tests and the TCP
# benchmark. Its sources come from the npm package node-snap7, fetched into the build tree when
# the build is configured, and are compiled here with the project's compiler; they are never
# part of the repository. Defines the static library `snap7` and the program `snap7_server`
# (tests/h1tcp/snap7_server.cpp). The package is pinned by its SHA-256. Where npm or its registry
# is missing, the configuration fails, unless TAV_REQUIRE_SNAP7 is OFF: then TAV_SNAP7_UNAVAILABLE
# says why, neither exists, and the tests that need them report a skip with that reason.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/NpmPack.cmake)

find_package(Threads REQUIRED)

set(TAV_SNAP7_VERSION 1.0.9)
# The package's SHA-256: sources that differ from the ones the tests were written against are refused.
set(TAV_SNAP7_SHA256 9f57bac2cf593e102e9a6fdb7eb7c42962413faeaf910259a891f420c46a62dd)
set(TAV_SNAP7_DIR ${CMAKE_BINARY_DIR}/_deps/node-snap7)
set(TAV_SNAP7_SRC ${TAV_SNAP7_DIR}/package/deps/snap7/src)
set(TAV_SNAP7_UNAVAILABLE "")
if(NOT EXISTS ${TAV_SNAP7_SRC}/core/s7_server.cpp)
  if(NOT TAV_NPM)
    set(TAV_SNAP7_UNAVAILABLE "npm is not installed, so Snap7's server is missing")
  else()
    file(MAKE_DIRECTORY ${TAV_SNAP7_DIR})
    # A build that may go without Snap7 asks the registry once, briefly: offline, npm's own
    # retries would hold the configuration for more than a minute.
    set(npm_patience "")
    if(NOT TAV_REQUIRE_SNAP7)
      set(npm_patience --fetch-retries=0 --fetch-timeout=10000)
    endif()
    tav_npm_pack(node-snap7 ${TAV_SNAP7_VERSION} ${TAV_SNAP7_SHA256} ${TAV_SNAP7_DIR}
                 OPTIONS ${npm_patience})
    if(npm_package)
      file(ARCHIVE_EXTRACT INPUT ${npm_package} DESTINATION ${TAV_SNAP7_DIR})
    else()
      set(TAV_SNAP7_UNAVAILABLE "npm cannot reach its registry for node-snap7: ${npm_error}")
    endif()
  endif()
endif()

if(TAV_SNAP7_UNAVAILABLE STREQUAL "")
  file(GLOB snap7_sources ${TAV_SNAP7_SRC}/core/*.cpp ${TAV_SNAP7_SRC}/sys/*.cpp)
  add_library(snap7 STATIC ${snap7_sources} ${TAV_SNAP7_SRC}/lib/snap7_libmain.cpp)
  target_include_directories(snap7 SYSTEM PUBLIC ${TAV_SNAP7_SRC}/core ${TAV_SNAP7_SRC}/sys
                                                 ${TAV_SNAP7_SRC}/lib)
  # Third-party code: its own dialect, no warnings, no sanitizers.
  set_target_properties(snap7 PROPERTIES CXX_STANDARD 11 CXX_EXTENSIONS ON
                                         POSITION_INDEPENDENT_CODE ON)
  target_compile_options(snap7 PRIVATE -w -fno-sanitize=all)
  target_link_libraries(snap7 PUBLIC Threads::Threads)

  add_executable(snap7_server ${CMAKE_CURRENT_LIST_DIR}/../tests/h1tcp/snap7_server.cpp)
  # Snap7's headers name their own `byte`, which std::byte makes ambiguous from C++17 on.
  set_target_properties(snap7_server PROPERTIES CXX_STANDARD 11 CXX_EXTENSIONS ON)
  target_compile_options(snap7_server PRIVATE -fno-sanitize=all)
  target_link_options(snap7_server PRIVATE -fno-sanitize=all)
  target_link_libraries(snap7_server PRIVATE snap7)
elseif(TAV_REQUIRE_SNAP7)
  message(FATAL_ERROR "${TAV_SNAP7_UNAVAILABLE} (configure with -DTAV_REQUIRE_SNAP7=OFF to skip "
                      "the tests and benchmarks that use it)")
else()
  message(STATUS "Snap7 tests and benchmarks skipped: ${TAV_SNAP7_UNAVAILABLE}")
endif()
