#include "driver_library.h"

#include <dlfcn.h>

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

int32_t DriverLibrary::Run(tav::DriverInstance* instance, tav::CommandCode command,
                           void* parameters, int32_t driverNumber) const {
  tav::Request request = tav::MakeRequest(instance, command, parameters, driverNumber);
  return main_(&request);
}

}  // namespace tavhost
