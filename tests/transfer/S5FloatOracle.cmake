# The S5 float conversions against the C library computation they replaced (s5_float_oracle.h):
# the cases, compiled once per build, for the unit test here and for the benchmarks' optimised
# program that runs them over every pattern. Defined by whichever of them comes first.
include_guard(GLOBAL)
add_library(tav_s5_float_oracle_cases OBJECT ${CMAKE_CURRENT_LIST_DIR}/s5_float_oracle_test.cpp)
target_link_libraries(tav_s5_float_oracle_cases PUBLIC tav_driver GTest::gtest
                                                PRIVATE tav_warnings)
