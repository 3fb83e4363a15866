// The running program's folder on Windows: the path of the module that started the process.
#include <windows.h>

#include "cli/install_layout.h"

namespace tavhost {

std::filesystem::path ProgramFolder() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return {};
  return std::filesystem::path(std::string(path, length)).parent_path();
}

}  // namespace tavhost
