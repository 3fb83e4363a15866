#include <dlfcn.h>

#include "files.h"

namespace tav::h1eth {

std::string LibraryFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) == 0 || info.dli_fname == nullptr) {
    return {};
  }
  std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::FILE* CreateFileForWriting(const std::string& path) {
  return std::fopen(path.c_str(), "wbe");  // e: close on exec
}

}  // namespace tav::h1eth
