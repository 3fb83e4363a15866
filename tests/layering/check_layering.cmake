cmake_minimum_required(VERSION 3.25)
# Fails when an #include runs upward. The driver's folders, bottom-up; a folder may include its
# own headers and those of any folder on a lower level, never one on its own level or above:
#   0 abi       the records the host passes, command and area codes
#   0 vocabulary  what every component shares: byte order, Ethernet addresses, the H1 operations
#   1 platform  the seams: host log, H1 driver library, sleep, serial port
#   2 config    DriverInstance table, station file
#   3 h1 address serial
#   4 transfer
#   5 driver    TavMain, the command table
# What lives beside the driver (the simulated network, the host tool, the TCP transport) sees it
# only through abi, vocabulary and platform.
# Usage: cmake -DSOURCE_DIR=<repository> -P check_layering.cmake
set(level_abi 0)
set(level_vocabulary 0)
set(level_platform 1)
set(level_config 2)
set(level_h1 3)
set(level_address 3)
set(level_serial 3)
set(level_transfer 4)
set(level_driver 5)
set(outside_folders sim tools h1tcp)

set(violations "")
function(check_file file allowed_below_level own_folder)
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[a-z0-9_]+/")
  foreach(line IN LISTS includes)
    string(REGEX MATCH "\"([a-z0-9_]+)/" _ "${line}")
    set(folder "${CMAKE_MATCH_1}")
    if(folder STREQUAL own_folder OR NOT DEFINED level_${folder})
      continue()  # its own headers, or no folder of the driver's (sim/, support/, a library)
    endif()
    if(NOT level_${folder} LESS allowed_below_level)
      file(RELATIVE_PATH name "${SOURCE_DIR}" "${file}")
      list(APPEND violations "${name}: ${line}")
      set(violations "${violations}" PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

file(GLOB folders RELATIVE "${SOURCE_DIR}/src" "${SOURCE_DIR}/src/*")
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY "${SOURCE_DIR}/src/${folder}")
    continue()
  endif()
  if(NOT DEFINED level_${folder})
    message(FATAL_ERROR "src/${folder} has no level: add it to check_layering.cmake")
  endif()
  file(GLOB_RECURSE files "${SOURCE_DIR}/src/${folder}/*.h" "${SOURCE_DIR}/src/${folder}/*.cpp")
  foreach(file IN LISTS files)
    check_file("${file}" ${level_${folder}} ${folder})
  endforeach()
endforeach()

# Beside the driver: below the config level only.
foreach(folder IN LISTS outside_folders)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp"
                          "${SOURCE_DIR}/${folder}/*.in")
  foreach(file IN LISTS files)
    check_file("${file}" ${level_config} ${folder})
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "includes that run upward:\n  ${text}")
endif()
message(STATUS "every include runs downward")
