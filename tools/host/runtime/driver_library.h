// The driver library as the host holds it: loaded by path, TavMain looked up by name.
#pragma once

#include <cstdint>
#include <string>

#include "abi/records.h"

namespace tavhost {

class DriverLibrary {
 public:
  // Loads the library at `path`; check loaded() and error() afterwards.
  explicit DriverLibrary(const std::string& path);
  ~DriverLibrary();
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  bool loaded() const { return main_ != nullptr; }
  const std::string& error() const { return error_; }

  int32_t Run(tav::DriverInstance* instance, tav::CommandCode command, void* parameters,
              int32_t driverNumber = 0) const;

 private:
  using TavMainFunction = int32_t (*)(tav::Request*);
  void* handle_ = nullptr;
  TavMainFunction main_ = nullptr;
  std::string error_;
};

}  // namespace tavhost
