# Windows x86-64 cross build with MinGW-w64: the test vehicle that 64-bit Wine runs on every
# machine; the shipped DLL is the i686 one.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGWToolchain.cmake)
