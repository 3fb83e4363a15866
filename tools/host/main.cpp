// tavhost: drives the TavSH1 driver library through TavMain, as the HMI/SCADA host does.
#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include <string>

#include "cp437.h"
#include "driver_library.h"

namespace {

int ShowDriverInformation(const tavhost::DriverLibrary& driver) {
  tav::InfoBlock info{};
  const int32_t result = driver.Run(nullptr, 14, &info);
  if (result != 0) {
    fmt::print(stderr, "driver information failed with {}\n", result);
    return 1;
  }
  fmt::print("{}", tavhost::Cp437ToUtf8(info.banner));
  fmt::print("name:          {}\n", info.name);
  fmt::print("instance size: {} bytes\n", info.instanceSize);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"tavhost: drives the TavSH1 H1 driver as its host does"};
  std::string libraryPath = TAVSH1_DEFAULT_LIBRARY;
  app.add_option("--driver", libraryPath, "Path of the driver library")->capture_default_str();
  app.require_subcommand(1);
  CLI::App* info = app.add_subcommand("info", "Print the driver information (command 14)");
  CLI11_PARSE(app, argc, argv);

  tavhost::DriverLibrary driver(libraryPath);
  if (!driver.loaded()) {
    fmt::print(stderr, "cannot load {}: {}\n", libraryPath, driver.error());
    return 1;
  }
  if (info->parsed()) return ShowDriverInformation(driver);
  return 0;
}
