// Why a file the user named cannot be read, in the words the system gives ("permission denied",
// "not a directory"), so that a file that is there but closed to tavhost is not reported as
// missing.
#pragma once

#include <optional>
#include <string>

namespace tavhost {

// "PATH: no such file", "PATH: not a file" or "cannot read PATH: why"; none when tavhost can
// open the file for reading.
std::optional<std::string> FileReadProblem(const std::string& path);

}  // namespace tavhost
