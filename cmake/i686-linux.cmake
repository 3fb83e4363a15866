# 32-bit Linux (i686): the host's real ABI, with 32-bit pointers and records at their documented
# offsets. This machine's kernel cannot run i386 binaries, so tests run under qemu-i386.
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

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386 -L /)

# Header-only packages of the build machine serve this target too; compiled ones do not.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
