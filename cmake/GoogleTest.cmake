# GoogleTest is built from the sources that Debian's googletest package installs, so that every
# target (native with sanitizers, 32-bit) gets a copy compiled for it.
set(TAV_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${TAV_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL)
include(GoogleTest)
# The MinGW toolchain's win32 thread model has no std::mutex, from which GoogleTest builds one
# helper class on Windows; GoogleTest's customisation header supplies it.
if(WIN32)
  target_include_directories(gtest BEFORE PUBLIC ${CMAKE_CURRENT_LIST_DIR}/googletest_mingw)
endif()
