# The header-only libraries the tools use (fmt, CLI11, toml++, nlohmann-json) come from the build
# machine's Debian packages, which install them for the build machine only. For the MinGW build
# each one's folder under /usr/include is linked into an include folder of its own in the build
# tree, so that the Windows compiler sees these headers without the build machine's C library
# headers beside them, and find_package() of each is redirected to a target that uses that folder.
set(TAV_BUILD_MACHINE_INCLUDE_DIR ${CMAKE_BINARY_DIR}/build_machine_include)

# tav_build_machine_headers(PACKAGE TARGET FOLDER... [DEFINITIONS ...])
function(tav_build_machine_headers package target)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "FOLDERS;DEFINITIONS")
  foreach(folder IN LISTS arg_FOLDERS)
    if(NOT EXISTS /usr/include/${folder})
      return()
    endif()
    file(MAKE_DIRECTORY ${TAV_BUILD_MACHINE_INCLUDE_DIR})
    file(CREATE_LINK /usr/include/${folder} ${TAV_BUILD_MACHINE_INCLUDE_DIR}/${folder} SYMBOLIC)
  endforeach()
  string(TOLOWER ${package} lower)
  file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/${lower}-config.cmake
"if(NOT TARGET ${target})
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES \"${TAV_BUILD_MACHINE_INCLUDE_DIR}\"
    INTERFACE_COMPILE_DEFINITIONS \"${arg_DEFINITIONS}\")
endif()
")
endfunction()

tav_build_machine_headers(fmt fmt::fmt-header-only FOLDERS fmt DEFINITIONS FMT_HEADER_ONLY=1)
tav_build_machine_headers(CLI11 CLI11::CLI11 FOLDERS CLI)
tav_build_machine_headers(tomlplusplus tomlplusplus::tomlplusplus FOLDERS toml++)
tav_build_machine_headers(nlohmann_json nlohmann_json::nlohmann_json FOLDERS nlohmann)
# The simulated network looks for toml++ by its header.
set(TAV_TOMLPLUSPLUS_INCLUDE_DIR ${TAV_BUILD_MACHINE_INCLUDE_DIR} CACHE PATH "toml++ headers")
