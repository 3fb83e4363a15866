cmake_minimum_required(VERSION 3.25)
# Fails when an #include runs upward. What each of the driver's components builds on is written
# once, in src/CMakeLists.txt (tav_component(NAME ... DEPENDS ...)); a file in src/NAME may include
# its own component's headers and those of the components NAME builds on, directly or through
# others, and no other component's. What lives beside the driver (the simulated network, the host
# tool, the TCP transport) sees it only through platform and what platform builds on (abi, the
# vocabulary), through the components at the bottom (the address grammar), and through the
# components beside src/: a top-level folder of their name declares them in its own
# CMakeLists.txt (the TOML reader of the files beside the driver; the sessions with PLC stations,
# the station map, for every H1 implementation; the H1 transport over Ethernet);
# their files are held to what they build on. The vocabulary itself includes nothing from outside
# the project but the standard library. toml++ is included by the TOML reader's one file alone:
# its inline functions compiled with other settings elsewhere would be one more copy for the
# linker to choose from. tavhost's rooms (tools/host/NAME) are held to the rooms each builds on,
# as tools/host/CMakeLists.txt declares them.
# Usage: cmake -DSOURCE_DIR=<repository> -P check_layering.cmake
set(outside_folders sim tools h1tcp)
set(beside_components toml_file station_map plc_sessions h1_front h1eth)

# The names that the calls of `declaration` in the text `text_variable` holds declare, into `out`,
# and what each builds on (the names after `keyword`) into depends_NAME.
function(read_declarations text_variable declaration keyword out)
  string(REGEX MATCHALL "\n${declaration}\\([a-z0-9_]+[^)]*\\)" calls "${${text_variable}}")
  set(names "")
  foreach(call IN LISTS calls)
    string(REGEX MATCH "${declaration}\\(([a-z0-9_]+)" _ "${call}")
    set(name ${CMAKE_MATCH_1})
    list(APPEND names ${name})
    set(depends "")
    if(call MATCHES "${keyword}([a-z0-9_ \t\n]*)")
      string(REGEX REPLACE "[ \t\n]+" ";" depends "${CMAKE_MATCH_1}")
      list(REMOVE_ITEM depends "")
    endif()
    set(depends_${name} ${depends} PARENT_SCOPE)
  endforeach()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# The components and what each builds on, from their declarations.
file(READ "${SOURCE_DIR}/src/CMakeLists.txt" declarations)
foreach(component IN LISTS beside_components)
  file(READ "${SOURCE_DIR}/${component}/CMakeLists.txt" beside)
  string(APPEND declarations "\n${beside}")
endforeach()
read_declarations(declarations tav_component DEPENDS components)

# Everything a component builds on, directly or through others.
function(below name out)
  set(result "")
  foreach(dependency IN LISTS depends_${name})
    below(${dependency} further)
    list(APPEND result ${dependency} ${further})
  endforeach()
  list(REMOVE_DUPLICATES result)
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

set(violations "")
# Checks the includes of `file`, whose own folder is `own_folder`, against `allowed` components.
function(check_file file own_folder allowed)
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[a-z0-9_]+/")
  foreach(line IN LISTS includes)
    string(REGEX MATCH "\"([a-z0-9_]+)/" _ "${line}")
    set(folder "${CMAKE_MATCH_1}")
    if(folder STREQUAL own_folder OR NOT folder IN_LIST components OR folder IN_LIST allowed)
      continue()  # its own headers, a folder of no component (sim/, support/), or one below
    endif()
    file(RELATIVE_PATH name "${SOURCE_DIR}" "${file}")
    list(APPEND violations "${name}: ${line}")
    set(violations "${violations}" PARENT_SCOPE)
  endforeach()
endfunction()

file(GLOB folders RELATIVE "${SOURCE_DIR}/src" "${SOURCE_DIR}/src/*")
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY "${SOURCE_DIR}/src/${folder}")
    continue()
  endif()
  if(NOT folder IN_LIST components)
    message(FATAL_ERROR "src/${folder} is no component: declare it in src/CMakeLists.txt")
  endif()
  below(${folder} allowed)
  file(GLOB_RECURSE files "${SOURCE_DIR}/src/${folder}/*.h" "${SOURCE_DIR}/src/${folder}/*.cpp")
  foreach(file IN LISTS files)
    check_file("${file}" ${folder} "${allowed}")
  endforeach()
endforeach()

foreach(component IN LISTS beside_components)
  below(${component} allowed)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${component}/*.h" "${SOURCE_DIR}/${component}/*.cpp")
  foreach(file IN LISTS files)
    check_file("${file}" ${component} "${allowed}")
  endforeach()
endforeach()

# Beside the driver: platform and below, every bottom component (one that builds on no seam), and
# the components beside src/.
below(platform outside_allowed)
list(APPEND outside_allowed platform ${beside_components})
foreach(component IN LISTS components)
  below(${component} underneath)
  if(NOT component STREQUAL "platform" AND NOT "platform" IN_LIST underneath)
    list(APPEND outside_allowed ${component})
  endif()
endforeach()
foreach(folder IN LISTS outside_folders)
  file(GLOB_RECURSE files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp"
                          "${SOURCE_DIR}/${folder}/*.in")
  foreach(file IN LISTS files)
    check_file("${file}" ${folder} "${outside_allowed}")
  endforeach()
endforeach()

# tavhost's rooms (tools/host/NAME), declared in tools/host/CMakeLists.txt as
# tavhost_room(NAME ... ROOMS room...): a room's files include its own headers and those of the
# rooms it builds on, directly or through others, and no other room's. The program's main file,
# at the top of tools/host, sees every room.
file(READ "${SOURCE_DIR}/tools/host/CMakeLists.txt" host_declarations)
read_declarations(host_declarations tavhost_room ROOMS rooms)
if(NOT rooms)
  message(FATAL_ERROR "tools/host/CMakeLists.txt declares no room (tavhost_room)")
endif()
set(components ${rooms})  # check_file now holds includes against the rooms
file(GLOB folders RELATIVE "${SOURCE_DIR}/tools/host" "${SOURCE_DIR}/tools/host/*")
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY "${SOURCE_DIR}/tools/host/${folder}")
    continue()
  endif()
  if(NOT folder IN_LIST rooms)
    message(FATAL_ERROR "tools/host/${folder} is no room: declare it in tools/host/CMakeLists.txt")
  endif()
  below(${folder} allowed)
  file(GLOB_RECURSE files "${SOURCE_DIR}/tools/host/${folder}/*.h"
                          "${SOURCE_DIR}/tools/host/${folder}/*.cpp")
  foreach(file IN LISTS files)
    check_file("${file}" ${folder} "${allowed}")
  endforeach()
endforeach()

# The vocabulary, under every component and everything beside the driver, takes nothing from
# outside the project but the standard library: no header of an OS or of a third party.
file(GLOB files "${SOURCE_DIR}/src/vocabulary/*.h" "${SOURCE_DIR}/src/vocabulary/*.cpp")
foreach(file IN LISTS files)
  file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*<")
  foreach(line IN LISTS includes)
    if(NOT line MATCHES "<[a-z_]+>")
      file(RELATIVE_PATH name "${SOURCE_DIR}" "${file}")
      list(APPEND violations "${name}: ${line}")
    endif()
  endforeach()
endforeach()

# The sources of every folder of the project (build trees aside).
file(GLOB top_folders LIST_DIRECTORIES true RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
list(FILTER top_folders EXCLUDE REGEX "^(build|\\.)")
set(sources "")
foreach(folder IN LISTS top_folders)
  file(GLOB_RECURSE found "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp"
                         "${SOURCE_DIR}/${folder}/*.in")
  list(APPEND sources ${found})
endforeach()
# Each of these third-party libraries is included by one file alone: the pattern of its
# includes, that file, and the library's name.
set(only_toml "<toml\\+\\+/" toml_file/document.cpp toml++)
# protobuf and the code protoc generates from the Sparkplug B schema, in the bridge's one header.
set(only_protobuf "[<\"](google/protobuf/|[a-z0-9_]+\\.pb\\.h)" tools/host/bridge/sparkplug_proto.h
    protobuf)
foreach(library toml protobuf)
  list(GET only_${library} 0 pattern)
  list(GET only_${library} 1 owner)
  list(GET only_${library} 2 word)
  foreach(file IN LISTS sources)
    file(STRINGS "${file}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+${pattern}")
    file(RELATIVE_PATH name "${SOURCE_DIR}" "${file}")
    if(includes AND NOT name STREQUAL owner)
      list(APPEND violations "${name}: ${includes} (${word} is ${owner}'s alone)")
    endif()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR
          "includes that run upward, out of the vocabulary, of toml++ or of protobuf:\n  ${text}")
endif()
message(STATUS "every include runs downward")
