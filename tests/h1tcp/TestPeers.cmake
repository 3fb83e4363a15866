# The stations the libh1tcp tests, its benchmark and the Windows end-to-end test talk to: the
# peer's framing, the S5 fetch/write responder and Snap7's S7 server run as a process. One
# library, defined once per build by whichever of them comes first.
include_guard(GLOBAL)
find_package(Threads REQUIRED)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/Snap7.cmake)

set(tav_peers_dir ${CMAKE_CURRENT_LIST_DIR})
set(tav_peers_root ${CMAKE_CURRENT_LIST_DIR}/../..)
add_library(tav_test_peers STATIC ${tav_peers_dir}/peer.cpp ${tav_peers_dir}/s5_responder.cpp
                                  ${tav_peers_dir}/snap7_process.cpp)
target_include_directories(tav_test_peers PUBLIC ${tav_peers_dir} ${tav_peers_root}/h1tcp
                                                 ${tav_peers_root}/src ${tav_peers_root})
target_link_libraries(tav_test_peers PUBLIC Threads::Threads)
if(TARGET h1tcp_core)
  target_link_libraries(tav_test_peers PUBLIC h1tcp_core)
else()
  # The build machine's own build beside the Windows one has none of the project's libraries:
  # the wire formats the peers speak, compiled for it.
  target_sources(tav_test_peers PRIVATE ${tav_peers_root}/h1tcp/frames.cpp
                                        ${tav_peers_root}/plc_sessions/frames.cpp
                                        ${tav_peers_root}/plc_sessions/cotp.cpp
                                        ${tav_peers_root}/plc_sessions/tpkt.cpp)
endif()
# Snap7's server starts under the emulator that runs the test programs (qemu-i386 for i686).
set(tav_peers_emulator "${CMAKE_CROSSCOMPILING_EMULATOR}")
string(REPLACE ";" " " tav_peers_emulator "${tav_peers_emulator}")
target_compile_definitions(tav_test_peers PRIVATE TAV_TEST_EMULATOR="${tav_peers_emulator}")
if(TAV_SNAP7_UNAVAILABLE STREQUAL "")
  target_compile_definitions(tav_test_peers PRIVATE TAV_SNAP7_SERVER="$<TARGET_FILE:snap7_server>")
  add_dependencies(tav_test_peers snap7_server)
  # Snap7's client (snap7_client.h), compiled in Snap7's own dialect, as its server is.
  add_library(tav_snap7_client STATIC ${tav_peers_dir}/snap7_client.cpp)
  set_target_properties(tav_snap7_client PROPERTIES CXX_STANDARD 11 CXX_EXTENSIONS ON)
  target_compile_options(tav_snap7_client PRIVATE -fno-sanitize=all)
  target_include_directories(tav_snap7_client PUBLIC ${tav_peers_dir})
  target_link_libraries(tav_snap7_client PUBLIC snap7)
else()
  target_compile_definitions(tav_test_peers PRIVATE
                             TAV_SNAP7_UNAVAILABLE="${TAV_SNAP7_UNAVAILABLE}")
endif()
