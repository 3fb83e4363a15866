# tav_npm_pack(NAME VERSION SHA256 FOLDER [OPTIONS option...]): the npm package NAME@VERSION's
# tarball fetched into FOLDER by `npm pack` (the options after --loglevel=error) and checked
# against its SHA-256: a tarball of other contents is removed and the configuration fails. Sets
# npm_package to the tarball, or to "" with npm_error saying why in one line (npm's "reason: ..."
# line, else its first).
include_guard(GLOBAL)

find_program(TAV_NPM npm)

function(tav_npm_pack name version sha256 folder)
  cmake_parse_arguments(PARSE_ARGV 4 arg "" "" "OPTIONS")
  execute_process(COMMAND ${TAV_NPM} pack ${name}@${version} --loglevel=error ${arg_OPTIONS}
                  WORKING_DIRECTORY ${folder} RESULT_VARIABLE result OUTPUT_QUIET
                  ERROR_VARIABLE error TIMEOUT 300)
  set(package ${folder}/${name}-${version}.tgz)
  if(result EQUAL 0 AND EXISTS ${package})
    file(SHA256 ${package} hash)
    if(NOT hash STREQUAL sha256)
      file(REMOVE ${package})
      message(FATAL_ERROR "${name}-${version}.tgz has SHA-256 ${hash}, not ${sha256}: refused")
    endif()
    set(npm_package ${package} PARENT_SCOPE)
    return()
  endif()
  string(REGEX REPLACE "npm (error|ERR!) " "" error "${error}")
  if(error MATCHES "[^\n]*reason: [^\n]*")
    set(error "${CMAKE_MATCH_0}")
  else()
    string(STRIP "${error}" error)
    string(REGEX REPLACE "\n.*" "" error "${error}")
  endif()
  if(error STREQUAL "")
    set(error "npm pack exited with ${result}")
  endif()
  set(npm_package "" PARENT_SCOPE)
  set(npm_error "${error}" PARENT_SCOPE)
endfunction()
