# The open operation's program: for the capability test, and on Windows for the open's refusals.
add_executable(h1eth_open_probe open_probe.cpp)
target_link_libraries(h1eth_open_probe PRIVATE h1eth_objects tav_warnings)

if(WIN32)
  add_test(NAME ${TAV_TEST_PREFIX}H1EthWindows.ExportsTheOrdinals
           COMMAND ${CMAKE_COMMAND} -DDLL=$<TARGET_FILE:h1eth> -DOBJDUMP=${CMAKE_OBJDUMP}
                   "-DEXPECTED_H1_ORDINALS=${TAV_H1_ORDINALS}"
                   -P ${PROJECT_SOURCE_DIR}/tests/h1tcp/check_h1tcp_dll.cmake)
  # The open's refusals under Wine, each one H1ETH: line: Wine's own wpcap.dll (on the machine's
  # libpcap) stands in for Npcap; without it (wpcap=) there is none.
  foreach(row IN ITEMS
      "WithoutNpcap|TAV_H1_INTERFACE=eth0;WINEDLLOVERRIDES=wpcap=|Npcap is not installed \\(no wpcap.dll could be loaded\\): install Npcap"
      "UnknownAdapter|TAV_H1_INTERFACE=tavnosuch0|network adapter 'tavnosuch0' \\(TAV_H1_INTERFACE\\) not found. adapters: '"
      "NoAdapterNamed|TAV_H1_INTERFACE=|no network adapter: set TAV_H1_INTERFACE to the adapter")
    string(REPLACE "|" ";" row "${row}")
    list(GET row 0 case)
    list(GET row -1 line)
    list(SUBLIST row 1 -1 environment)
    list(REMOVE_AT environment -1)
    set(name ${TAV_TEST_PREFIX}H1EthWindows.OpenRefuses${case})
    add_test(NAME ${name} COMMAND h1eth_open_probe)
    tav_wine_tests(${name})
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "TAV_H1ETH_CONF=C:\\nonexistent;${environment}"
      PASS_REGULAR_EXPRESSION "H1ETH: ${line}[^\n]*\nresult 13")
  endforeach()
  return()
endif()

# libh1eth's tests that need no network: the settings file, the capture file (read back by
# tshark where it is installed), the station connection over a transport on a link in memory,
# and the library's refusals to open (no interface named; no CAP_NET_RAW). The tests on a network
# of namespaces are elsewhere.
add_executable(libh1eth_unit_tests settings_test.cpp capture_test.cpp probe_test.cpp)
target_link_libraries(libh1eth_unit_tests PRIVATE h1eth_core GTest::gtest_main tav_warnings)
gtest_discover_tests(libh1eth_unit_tests DISCOVERY_TIMEOUT 60 PROPERTIES SKIP_REGULAR_EXPRESSION
                     "\\[  SKIPPED \\]")

# The station connection and the eleven operations against a station of ours answering from a
# simulated station's memory: over transport layers in memory, and (root) over the loopback
# interface of a network namespace of the test's own.
if(TARGET tav_h1eth_test_network)
  add_executable(h1eth_library_tests station_connection_test.cpp library_test.cpp
                                     ${PROJECT_SOURCE_DIR}/tests/support/fake_host_log.cpp)
  target_compile_definitions(h1eth_library_tests PRIVATE
                             TAV_H1ETH_OPEN_PROBE="$<TARGET_FILE:h1eth_open_probe>")
  target_include_directories(h1eth_library_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(h1eth_library_tests PRIVATE h1eth_objects tav_h1eth_test_network
                                                   GTest::gtest_main tav_warnings)
  add_dependencies(h1eth_library_tests h1eth_open_probe)
  gtest_discover_tests(h1eth_library_tests DISCOVERY_TIMEOUT 60 PROPERTIES SKIP_REGULAR_EXPRESSION
                       "\\[  SKIPPED \\]")
endif()

# tavhost over libh1eth: an interface that does not exist opens no driver, and libh1eth's one line
# says why before the driver's own.
if(TARGET tavhost)
  add_test(NAME HostTool.RunsOverH1WithAnInterface
           COMMAND tavhost --h1-interface tavnosuch0 init
                   --station-file ${PROJECT_SOURCE_DIR}/examples/tavSH101.int --timeout 1)
  set_tests_properties(HostTool.RunsOverH1WithAnInterface PROPERTIES PASS_REGULAR_EXPRESSION
    "H1ETH: network interface 'tavnosuch0' \\(TAV_H1_INTERFACE\\) not found\n[^\n]*Fail to open H1 Driver \\(13\\)")
  add_test(NAME HostTool.H1ProbeNeedsAnInterface COMMAND tavhost h1 probe 080006010203 0x0302)
  set_tests_properties(HostTool.H1ProbeNeedsAnInterface PROPERTIES
    ENVIRONMENT "TAV_H1_INTERFACE=" PASS_REGULAR_EXPRESSION
    "tavhost h1 probe: no network interface: name it with --interface")
endif()
