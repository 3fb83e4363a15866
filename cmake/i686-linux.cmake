# 32-bit Linux (i686): the host's real ABI, with 32-bit pointers and records at their documented
# offsets. Where the kernel executes 32-bit x86 programs the tests run natively, elsewhere under
# qemu-i386.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

# Without large-file support, 32-bit readdir() and stat() fail with EOVERFLOW on big filesystems.
add_compile_definitions(_FILE_OFFSET_BITS=64)

# The probe is a static 32-bit program that only exits; it is built and run once per build tree.
# TAV_ASSUME_NO_32BIT=1 in the environment makes it answer "cannot" on any machine, as for Wine.
if(NOT DEFINED CACHE{TAV_I386_NATIVE})
  set(probe ${CMAKE_BINARY_DIR}/probe_i386)
  execute_process(
    COMMAND gcc -m32 -static -nostdlib -fno-pie -no-pie -ffreestanding -o ${probe}
            ${CMAKE_CURRENT_LIST_DIR}/../tests/win32/build_machine/probe_i386.c
    RESULT_VARIABLE built OUTPUT_QUIET ERROR_QUIET)
  set(ran 1)
  if(built EQUAL 0 AND NOT "$ENV{TAV_ASSUME_NO_32BIT}" STREQUAL "1")
    execute_process(COMMAND ${probe} RESULT_VARIABLE ran OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(ran EQUAL 0)
    set(TAV_I386_NATIVE ON CACHE BOOL "The kernel runs the i686 test programs itself")
  else()
    set(TAV_I386_NATIVE OFF CACHE BOOL "The kernel runs the i686 test programs itself")
  endif()
endif()
if(NOT TAV_I386_NATIVE)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /)
endif()

# Header-only packages of the build machine serve this target too; compiled ones do not.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
