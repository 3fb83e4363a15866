cmake_minimum_required(VERSION 3.25)
# The Windows package as a user unpacks it: its files installed into an empty folder, then
# tavhost.exe demo run under Wine from the folder for trying without the H1 library, with nothing
# but what the package holds. A runner that cannot run Wine here prints its skip line, which the
# test takes as a skip.
# Usage: cmake -DBUILD_DIR= -DPACKAGE_DIR= -DRUNNER=<runner and its options> -P check_package.cmake
file(REMOVE_RECURSE ${PACKAGE_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PACKAGE_DIR}
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
set(trial ${PACKAGE_DIR}/without-h1-library)
execute_process(COMMAND ${RUNNER} ${trial}/tavhost.exe demo WORKING_DIRECTORY ${trial}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
message("${output}")
if(result EQUAL 77)
  return()
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "tavhost.exe demo from the unpacked package: exit status ${result}")
endif()
