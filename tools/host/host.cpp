#include "host.h"

#include <fmt/core.h>

#include <cstdlib>

namespace tavhost {

const DriverLibrary& Host::driver() {
  if (!driver_) {
    driver_.emplace(libraryPath);
    if (!driver_->loaded()) {
      fmt::print(stderr, "cannot load {}: {}\n", libraryPath, driver_->error());
      std::exit(1);
    }
  }
  return *driver_;
}

}  // namespace tavhost
