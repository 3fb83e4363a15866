# The Windows package (cpack --preset windows-i686): a zip of
#   tavsh1.dll                   the driver, to put beside the host
#   README.md, docs/             the guide, the reference and the architecture
#   examples/                    the example station file and its simulated network
#   tcp/H1LIB.DLL                libh1tcp: the H1 library's operations over TCP, to put beside
#                                tavsh1.dll in place of the H1 library (or tavhost.exe --tcp-map)
#   eth/H1LIB.DLL                libh1eth: H1 itself on any Ethernet adapter over Npcap (which
#                                the user installs), to put there instead (tavhost.exe
#                                --h1-interface)
#   without-h1-library/          for trying the driver without the H1 library: tavhost.exe with
#                                tavsh1.dll, the simulated network as the H1 library's DLL and
#                                KORHOST.DLL; `wine tavhost.exe demo` (or tavhost.exe demo on
#                                Windows) from inside it runs the demo.
set(trial without-h1-library)
install(FILES $<TARGET_FILE:tavsh1> DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/docs/ARCHITECTURE.md ${PROJECT_SOURCE_DIR}/docs/REFERENCE.md
        DESTINATION docs)
install(FILES $<TARGET_FILE:h1tcp> DESTINATION tcp)
install(FILES $<TARGET_FILE:h1eth> DESTINATION eth)
install(FILES ${PROJECT_SOURCE_DIR}/examples/tavSH101.int ${PROJECT_SOURCE_DIR}/examples/tavSH101.toml
        DESTINATION examples)
if(TARGET tavhost)
  install(FILES $<TARGET_FILE:tavhost> $<TARGET_FILE:tavsh1> $<TARGET_FILE:tavsh1sim>
                $<TARGET_FILE:korhost> DESTINATION ${trial})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/WithoutH1Library.txt.in
                 ${CMAKE_BINARY_DIR}/WithoutH1Library.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/WithoutH1Library.txt DESTINATION ${trial} RENAME README.txt)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME TavSH1)
set(CPACK_PACKAGE_VENDOR TavSH1)
set(CPACK_PACKAGE_FILE_NAME TavSH1-${PROJECT_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
