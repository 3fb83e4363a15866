# The test network of libh1eth: namespaces joined by veth pairs and raw links (netns.h,
# raw_link.h), the frame judges (frame_judge.h), the test H1 station (h1_station: every station of
# a simulated network, or Snap7's server behind it) and the bad network's relay (bad_network).
# Defined once per build, for the tests and for the benchmark.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/../h1tcp/TestPeers.cmake)
find_package(CLI11 CONFIG REQUIRED)

set(tav_h1eth_tests_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(tav_h1eth_test_network STATIC
            ${tav_h1eth_tests_dir}/netns.cpp ${tav_h1eth_tests_dir}/raw_link.cpp
            ${tav_h1eth_tests_dir}/frame_judge.cpp ${tav_h1eth_tests_dir}/plc_responder.cpp)
target_include_directories(tav_h1eth_test_network PUBLIC ${tav_h1eth_tests_dir})
target_link_libraries(tav_h1eth_test_network PUBLIC tav_test_peers tavsh1sim tav_plc_sessions
                                             PRIVATE tav_warnings)

add_executable(bad_network ${tav_h1eth_tests_dir}/bad_network.cpp)
target_link_libraries(bad_network PRIVATE tav_h1eth_test_network CLI11::CLI11 tav_warnings)

add_executable(h1_station ${tav_h1eth_tests_dir}/h1_station.cpp)
target_link_libraries(h1_station PRIVATE tav_h1eth_test_network h1eth_core CLI11::CLI11
                                         tav_warnings)
