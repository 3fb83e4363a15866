cmake_minimum_required(VERSION 3.25)
# Checks that libtavsh1sim.so defines the eleven H1 operations in its dynamic symbol table, so
# that a driver loaded with RTLD_NOW binds to them.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE defined
                COMMAND_ERROR_IS_FATAL ANY)
foreach(operation IN ITEMS H1OpenDriver H1CloseDriver H1OpenS5Connection H1OpenS7Connection
                           H1ConnectionState H1RestartConnection H1ReleaseConnection
                           H1SendReadRequest H1ReceiveReadData H1SendWriteRequest
                           H1ReceiveWriteAcknowledge)
  if(NOT defined MATCHES "[0-9a-f]+ T ${operation}\n")
    message(FATAL_ERROR "libtavsh1sim.so does not export ${operation}")
  endif()
endforeach()
