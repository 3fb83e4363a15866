# Every target of the project compiles with these warnings; third-party code does not.
add_library(tav_warnings INTERFACE)
target_compile_options(tav_warnings INTERFACE -Wall -Wextra -Wpedantic -Wconversion -Wshadow
                                              -Wno-sign-conversion)
