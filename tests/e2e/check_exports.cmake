cmake_minimum_required(VERSION 3.25)
# Checks the dynamic symbol table of libtavsh1.so: exactly one defined function, TavMain, and
# undefined symbols only from the host log, the H1 driver library and the C/C++ runtimes.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE defined
                COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "[0-9a-f]+ [TtWw] [^\n]+" functions "${defined}")
list(TRANSFORM functions REPLACE "^[0-9a-f]+ [TtWw] " "")
if(NOT functions STREQUAL "TavMain")
  message(FATAL_ERROR "libtavsh1.so defines these functions: ${functions}; expected TavMain only")
endif()

execute_process(COMMAND ${NM} -D --undefined-only ${LIBRARY} OUTPUT_VARIABLE undefined
                COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "U [^\n]+" imports "${undefined}")
list(TRANSFORM imports REPLACE "^U " "")
foreach(symbol IN LISTS imports)
  if(symbol MATCHES "^err(@.*)?$")
    set(found_err TRUE)
  elseif(symbol MATCHES "^H1[A-Za-z0-9]+$" OR symbol MATCHES "@GLIBC" OR symbol MATCHES "@CXXABI"
         OR symbol MATCHES "@GLIBCXX" OR symbol MATCHES "@GCC" OR symbol MATCHES "^__(a|ub)san_" OR symbol MATCHES "^(mem|str)[a-z]+$"
         OR symbol MATCHES "^_(ITM|_gmon|_cxa)"
         # C and C++ runtime functions that the sanitizers intercept lose their version
         OR symbol MATCHES "^(ioctl|tcgetattr|pthread_mutex_(un)?lock|_Z(nw|na|dl|da)[a-zA-Z]+)$"
         OR symbol MATCHES "^(f(open|open64|close|read|getc)|[a-z]*printf|getc)$"
         OR symbol MATCHES "^(frexp|ldexp|modf)$")
  else()
    message(FATAL_ERROR "libtavsh1.so imports an unexpected symbol: ${symbol}")
  endif()
endforeach()
if(NOT found_err)
  message(FATAL_ERROR "libtavsh1.so does not import the host log err")
endif()
