// The real libtavsh1.so, loaded the way the host loads the driver: by file name, with TavMain
// looked up by name. The test program itself is the host: it defines and exports `err`.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "abi/records.h"

namespace tav::e2e {

struct HostLogLine {
  int32_t level;
  std::string text;
};

// Every line the loaded driver sent to this process's `err`.
std::vector<HostLogLine>& HostLog();

class LoadedDriver {
 public:
  LoadedDriver() {
    handle_ = dlopen(TAVSH1_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
      ADD_FAILURE() << dlerror();
      return;
    }
    main_ = reinterpret_cast<TavMainFunction>(dlsym(handle_, "TavMain"));
  }
  ~LoadedDriver() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  LoadedDriver(const LoadedDriver&) = delete;
  LoadedDriver& operator=(const LoadedDriver&) = delete;

  bool loaded() const { return main_ != nullptr; }
  void* Symbol(const char* name) const { return dlsym(handle_, name); }

  int32_t Run(DriverInstance* instance, CommandCode command, void* parameters,
              int32_t driverNumber = 0) const {
    Request request = MakeRequest(instance, command, parameters, driverNumber);
    return main_(&request);
  }
  // A request with any code, also one that names no command.
  int32_t RunCode(DriverInstance* instance, int32_t code, void* parameters) const {
    Request request{instance, code, 0, 0, parameters};
    return main_(&request);
  }

 private:
  using TavMainFunction = int32_t (*)(Request*);
  void* handle_ = nullptr;
  TavMainFunction main_ = nullptr;
};

}  // namespace tav::e2e
