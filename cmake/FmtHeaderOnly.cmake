# fmt as a header-only library. Debian's fmt package configuration is installed for the build
# machine's architecture only, so the 32-bit build uses the same headers directly.
find_package(fmt CONFIG QUIET)
if(NOT TARGET fmt::fmt-header-only)
  find_path(TAV_FMT_INCLUDE_DIR fmt/format.h REQUIRED)
  add_library(fmt::fmt-header-only INTERFACE IMPORTED)
  set_target_properties(fmt::fmt-header-only PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${TAV_FMT_INCLUDE_DIR}
    INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY=1)
endif()
