// Where an H1 library finds its files: the folder it was loaded from and the environment that
// names files elsewhere (vocabulary/configuration_file.h says in which order they are looked for).
#pragma once

#include <string>

namespace tav::front {

// The folder of the file this library was loaded from, with its trailing separator; empty when
// unknown. One implementation per OS (library_folder_posix.cpp, library_folder_win32.cpp).
std::string LibraryFolder();

// The value of an environment variable; empty when unset.
std::string Environment(const char* name);

}  // namespace tav::front
