# What the Linux packages hold and how CPack builds them: a .tar.gz and a .deb with the driver
# library, the simulated H1 network, tavhost, the TCP transport, the examples and the README.
# tavhost finds the driver and the examples relative to its own folder (bin/ -> lib/,
# share/tavsh1/examples). The Windows zip is cmake/WindowsPackage.cmake's.
include(GNUInstallDirs)

install(TARGETS tavsh1 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
                       LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
foreach(part tavsh1sim h1tcp)
  if(TARGET ${part})
    install(TARGETS ${part} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
                            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endif()
endforeach()
if(TARGET tavhost)
  # The simulated network (and any library beside it) from the package's own lib/.
  file(RELATIVE_PATH TAV_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(tavhost PROPERTIES INSTALL_RPATH "$ORIGIN/${TAV_BIN_TO_LIB}")
  install(TARGETS tavhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tavsh1/examples)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tavsh1)
# The README's links lead into docs/, which lies beside it as in the repository.
install(FILES ${PROJECT_SOURCE_DIR}/docs/ARCHITECTURE.md ${PROJECT_SOURCE_DIR}/docs/REFERENCE.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tavsh1/docs)

set(CPACK_PACKAGE_NAME tavsh1)
set(CPACK_PACKAGE_VENDOR "TavSH1")
set(CPACK_PACKAGE_CONTACT "TavSH1 developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "H1 (Industrial Ethernet) driver for SIMATIC S5 and S7 stations, with tavhost and a simulated network")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Every library the parts link is the C and C++ runtime: fmt, CLI11, toml++ and nlohmann-json are
# compiled in.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
endif()
include(CPack)
