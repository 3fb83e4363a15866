// What every tavhost command shares: the driver library, loaded on first use from the path the
// user chose, and the host's DriverInstance.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>

#include "config/driver_instance.h"
#include "driver_library.h"

namespace tavhost {

class Host {
 public:
  std::string libraryPath = TAVSH1_DEFAULT_LIBRARY;

  // The loaded driver; exits the program with a message when it cannot be loaded.
  const DriverLibrary& driver();
  tav::DriverInstance& instance() { return *instance_; }

 private:
  std::optional<DriverLibrary> driver_;
  std::unique_ptr<tav::DriverInstance> instance_ = std::make_unique<tav::DriverInstance>();
};

// Each command adds its subcommand to the app; its callback runs when the user picked it and
// stores the program's exit code in `exitCode`.
void AddInfoCommand(CLI::App& app, Host& host, int& exitCode);

}  // namespace tavhost
