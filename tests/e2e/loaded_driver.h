// The real driver library, loaded the way the host loads it: by file name, with TavMain looked up
// by name (libtavsh1.so with dlopen, tavsh1.dll with LoadLibrary). The test program itself is the
// host: on Linux it defines and exports `err`; on Windows it registers its log with KORHOST.DLL.
#pragma once

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
  // Loads TAVSH1_LIBRARY_PATH; a test that finds it not loaded has failed already.
  LoadedDriver();
  ~LoadedDriver();
  LoadedDriver(const LoadedDriver&) = delete;
  LoadedDriver& operator=(const LoadedDriver&) = delete;

  bool loaded() const { return main_ != nullptr; }
  // The library's export `name`, or null.
  void* Symbol(const char* name) const;

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
