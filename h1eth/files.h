// The files libh1eth reads and writes, in the operating system's terms: one implementation per OS
// (files_posix.cpp, files_win32.cpp).
#pragma once

#include <cstdio>
#include <string>

namespace tav::h1eth {

// The folder of the file this library was loaded from, with its trailing separator; empty when
// unknown. h1eth.conf is looked for there.
std::string LibraryFolder();

// `path` created (or emptied) for writing bytes, not inherited by programs the host starts; null
// when it cannot be.
std::FILE* CreateFileForWriting(const std::string& path);

}  // namespace tav::h1eth
