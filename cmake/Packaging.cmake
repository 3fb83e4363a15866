# What the Linux packages hold and how CPack builds them: a .tar.gz and a .deb with the driver
# library, the simulated H1 network, tavhost, the TCP and raw-Ethernet transports, the examples,
# the manual pages, bash completion, the public headers and the documentation. tavhost finds the driver and the
# examples relative to its own folder (bin/ -> lib/<multiarch>/, share/tavsh1/examples). The
# Windows zip is cmake/WindowsPackage.cmake's.
#
# The .deb follows Debian's rules for a library package: versioned library names (the soname's
# number is the version's major), the multiarch folder (the linux-release preset, which the
# packages are made from, installs under /usr, which makes GNUInstallDirs choose lib/<multiarch>),
# no RPATH, shlibs and the ldconfig trigger, a copyright file naming what is compiled in, a
# changelog, compressed manual pages.
include(GNUInstallDirs)

set(TAV_LIBRARIES tavsh1)
foreach(part tavsh1sim h1tcp h1eth)
  if(TARGET ${part})
    list(APPEND TAV_LIBRARIES ${part})
  endif()
endforeach()
set_target_properties(${TAV_LIBRARIES} PROPERTIES VERSION ${PROJECT_VERSION}
                                                  SOVERSION ${PROJECT_VERSION_MAJOR})
install(TARGETS ${TAV_LIBRARIES} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
                                 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

if(TARGET tavhost)
  # The .tar.gz unpacks anywhere, so its tavhost finds the simulated network in the package's own
  # library folder; the .deb's libraries lie where the dynamic loader looks, and Debian forbids
  # an RPATH.
  file(RELATIVE_PATH TAV_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  set_target_properties(tavhost PROPERTIES INSTALL_RPATH "$ORIGIN/${TAV_BIN_TO_LIB}")
  install(TARGETS tavhost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(CODE [[
    if(TAV_PACKAGE_GENERATOR STREQUAL "DEB")
      file(RPATH_REMOVE FILE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/bin/tavhost")
    endif()
  ]])
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/bash-completion/tavhost
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  # The services tavhost-gateway@NAME and tavhost-bridge@NAME and the sandbox they share, in the
  # .deb alone: they run /usr/bin/tavhost, which the .tar.gz has elsewhere. Installed, enabled
  # by nobody but the administrator.
  install(CODE "set(TAV_SYSTEMD_UNITS \"${PROJECT_SOURCE_DIR}/packaging/systemd/\")")
  install(CODE [[
    if(TAV_PACKAGE_GENERATOR STREQUAL "DEB")
      # /lib beside /usr, where Debian's systemd packages put their units.
      set(units "${CMAKE_INSTALL_PREFIX}/../lib/systemd/system")
      cmake_path(NORMAL_PATH units)
      file(INSTALL "${TAV_SYSTEMD_UNITS}" DESTINATION "${units}" FILE_PERMISSIONS OWNER_READ
           OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
  ]])
endif()

# The public headers: the records the host passes and TavMain, for anyone integrating the driver
# (`#include <tav_main.h>` with `pkg-config --cflags tavsh1`).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/abi DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tavsh1
        FILES_MATCHING PATTERN "*.h")
install(FILES ${PROJECT_SOURCE_DIR}/src/driver/tav_main.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tavsh1)
configure_file(${PROJECT_SOURCE_DIR}/packaging/tavsh1.pc.in ${CMAKE_BINARY_DIR}/tavsh1.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/tavsh1.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# libh1tcp's station map and libh1eth's settings: the .deb installs an empty map and the settings
# with every key commented out as configuration files in /etc/tavsh1/; the .tar.gz keeps them
# beside the libraries, the last place the libraries look.
set(TAV_STATION_MAP ${PROJECT_SOURCE_DIR}/packaging/debian/h1tcp.map)
set(TAV_H1ETH_SETTINGS ${PROJECT_SOURCE_DIR}/packaging/debian/h1eth.conf)
install(CODE "set(TAV_STATION_MAP \"${TAV_STATION_MAP}\")
              set(TAV_H1ETH_SETTINGS \"${TAV_H1ETH_SETTINGS}\")
              set(TAV_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")")
install(CODE [[
  if(TAV_PACKAGE_GENERATOR STREQUAL "DEB")
    # /etc beside /usr (file(INSTALL) puts DESTDIR, CPack's staging folder, in front).
    set(etc "${CMAKE_INSTALL_PREFIX}/../etc/tavsh1")
    cmake_path(NORMAL_PATH etc)
    file(INSTALL "${TAV_STATION_MAP}" "${TAV_H1ETH_SETTINGS}" DESTINATION "${etc}")
  else()
    file(INSTALL "${TAV_STATION_MAP}" "${TAV_H1ETH_SETTINGS}"
         DESTINATION "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${TAV_LIBDIR}")
  endif()
]])

# Manual pages and the changelog, compressed as Debian wants them (gzip -9n: no name, no time).
set(TAV_COMPRESSED)
foreach(page tavhost.1 tavsh1-stations.5 tavsh1-map.5)
  string(REGEX MATCH "[0-9]$" section ${page})
  set(compressed ${CMAKE_BINARY_DIR}/packaging/${page}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/man/${page} > ${compressed}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/man/${page} VERBATIM)
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  list(APPEND TAV_COMPRESSED ${compressed})
endforeach()
set(TAV_CHANGELOG ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${TAV_CHANGELOG}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${TAV_CHANGELOG}
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog VERBATIM)
add_custom_target(tav_package_documents ALL DEPENDS ${TAV_COMPRESSED} ${TAV_CHANGELOG})
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)

set(TAV_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/tavsh1)
install(FILES ${TAV_CHANGELOG} ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
              ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${TAV_DOCDIR})
# The README's links lead into docs/, which lies beside it as in the repository.
install(FILES ${PROJECT_SOURCE_DIR}/docs/ARCHITECTURE.md ${PROJECT_SOURCE_DIR}/docs/REFERENCE.md
        DESTINATION ${TAV_DOCDIR}/docs)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tavsh1/examples)

set(CPACK_PACKAGE_NAME tavsh1)
set(CPACK_PACKAGE_VENDOR "TavSH1")
set(CPACK_PACKAGE_CONTACT "TavSH1 developers <tavsh1@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "H1 (Industrial Ethernet) driver for SIMATIC S5 and S7 stations")
set(CPACK_PACKAGE_DESCRIPTION
    "TavSH1 is a communication driver that an HMI/SCADA host loads to read and
write S5 and S7 PLC stations over Industrial Ethernet (H1). The package holds
the driver library with its public headers, a simulated H1 network of PLC
stations, libh1tcp (the H1 library's operations over TCP, to reach real
stations without vendor software), libh1eth (the same operations over raw
Ethernet: H1's own transport, ISO 8073 class 4, on a plain network adapter)
and tavhost, a command-line host that drives the driver as the HMI host
does.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PackageGenerator.cmake)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The libraries the parts link are the C and C++ runtime and, for tavhost bridge, libmosquitto:
# fmt, CLI11, toml++ and nlohmann-json are compiled in.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libmosquitto1 (>= 2.0)")
# The shlibs file tells packages built against the driver which version they need; with it CPack
# and the trigger runs ldconfig after the libraries are installed or removed.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles
                                       ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
endif()
include(CPack)
