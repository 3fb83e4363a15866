#include <dlfcn.h>
#include <gtest/gtest.h>

#include "loaded_driver.h"

namespace tav::e2e {

LoadedDriver::LoadedDriver() {
  handle_ = dlopen(TAVSH1_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    ADD_FAILURE() << dlerror();
    return;
  }
  main_ = reinterpret_cast<TavMainFunction>(dlsym(handle_, "TavMain"));
}

LoadedDriver::~LoadedDriver() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* LoadedDriver::Symbol(const char* name) const {
  return dlsym(handle_, name);
}

}  // namespace tav::e2e
