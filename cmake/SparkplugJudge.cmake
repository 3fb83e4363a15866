# The judge of the bridge's Sparkplug B: Eclipse Tahu's JavaScript codec, the npm package
# sparkplug-payload, fetched into the build tree when the build is configured and run under node
# by the bridge's tests; never part of the repository or of a package. The package is pinned by
# its version and SHA-256; the two it needs by their versions (npm checks their registry
# integrity). Sets TAV_SPARKPLUG_JUDGE_MODULES (its node_modules folder) or, where node or npm
# is missing or the registry cannot be reached, TAV_SPARKPLUG_JUDGE_MISSING with the reason: the
# tests that need it then report a skip. TAV_SPARKPLUG_JUDGE_DEFINITIONS tells a test either:
# where node, the judge's script (tests/host/bridge/sparkplug_judge.js) and the codec are, or why
# they are missing.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/NpmPack.cmake)

set(TAV_SPARKPLUG_PAYLOAD_VERSION 1.0.3)
set(TAV_SPARKPLUG_PAYLOAD_SHA256 0c408058e0d076f579a326277bd25fc3ac5eba9407fbb21b24c6baaec10bd101)
set(TAV_SPARKPLUG_JUDGE_DEPENDENCIES protobufjs@6.11.4 long@4.0.0)
set(judge_dir ${CMAKE_BINARY_DIR}/_deps/sparkplug-judge)
set(TAV_SPARKPLUG_JUDGE_MODULES ${judge_dir}/node_modules)
set(TAV_SPARKPLUG_JUDGE_MISSING "")
find_program(TAV_NODE node)
if(NOT TAV_NODE OR NOT TAV_NPM)
  set(TAV_SPARKPLUG_JUDGE_MISSING "node or npm is not installed, so Tahu's Sparkplug codec is missing")
elseif(NOT EXISTS ${TAV_SPARKPLUG_JUDGE_MODULES}/sparkplug-payload/package.json)
  file(MAKE_DIRECTORY ${judge_dir})
  tav_npm_pack(sparkplug-payload ${TAV_SPARKPLUG_PAYLOAD_VERSION} ${TAV_SPARKPLUG_PAYLOAD_SHA256}
               ${judge_dir} OPTIONS --fetch-retries=1 --fetch-timeout=30000)
  if(npm_package)
    file(WRITE ${judge_dir}/package.json "{\"name\": \"sparkplug-judge\", \"private\": true}\n")
    execute_process(COMMAND ${TAV_NPM} install --no-save --ignore-scripts --no-audit --no-fund
                            --loglevel=error ${npm_package} ${TAV_SPARKPLUG_JUDGE_DEPENDENCIES}
                    WORKING_DIRECTORY ${judge_dir} RESULT_VARIABLE npm_result OUTPUT_QUIET
                    ERROR_VARIABLE npm_error TIMEOUT 300)
    string(STRIP "${npm_error}" npm_error)
    string(REGEX REPLACE "\n.*" "" npm_error "${npm_error}")
  endif()
  if(NOT EXISTS ${TAV_SPARKPLUG_JUDGE_MODULES}/sparkplug-payload/package.json)
    set(TAV_SPARKPLUG_JUDGE_MISSING "npm cannot fetch sparkplug-payload: ${npm_error}")
    message(STATUS "Sparkplug judge skipped: ${TAV_SPARKPLUG_JUDGE_MISSING}")
  endif()
endif()

if(TAV_SPARKPLUG_JUDGE_MISSING STREQUAL "")
  set(TAV_SPARKPLUG_JUDGE_DEFINITIONS
      TAV_SPARKPLUG_JUDGE="${PROJECT_SOURCE_DIR}/tests/host/bridge/sparkplug_judge.js"
      TAV_SPARKPLUG_JUDGE_MODULES="${TAV_SPARKPLUG_JUDGE_MODULES}" TAV_NODE="${TAV_NODE}")
else()
  set(TAV_SPARKPLUG_JUDGE_DEFINITIONS TAV_SPARKPLUG_JUDGE_MISSING="${TAV_SPARKPLUG_JUDGE_MISSING}")
endif()
