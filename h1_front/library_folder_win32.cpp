#include <windows.h>

#include "h1_front/library_files.h"

namespace tav::front {

std::string LibraryFolder() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&LibraryFolder), &module)) {
    return {};
  }
  char path[MAX_PATH];
  const DWORD size = GetModuleFileNameA(module, path, sizeof path);
  if (size == 0 || size >= sizeof path) return {};
  std::string folder(path, size);
  const size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

}  // namespace tav::front
