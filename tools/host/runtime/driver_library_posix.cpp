// The driver library loaded with dlopen, TavMain looked up with dlsym.
#include <dlfcn.h>

#include "runtime/driver_library.h"

namespace tavhost {

DriverLibrary::DriverLibrary(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    error_ = dlerror();
    return;
  }
  main_ = reinterpret_cast<TavMainFunction>(dlsym(handle_, "TavMain"));
  if (main_ == nullptr) error_ = "the library exports no TavMain";
}

DriverLibrary::~DriverLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

}  // namespace tavhost
