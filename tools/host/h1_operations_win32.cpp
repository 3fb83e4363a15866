// On Windows the driver imports the H1 operations from the H1 library's DLL, bound when
// tavsh1.dll loads: in tavhost.exe that is the simulated network's DLL. With --tcp-map it hands
// the operations on to libh1tcp's DLL, which it loads by its full path (a second module of the
// same name), after putting the map where libh1tcp looks for it.
#include <windows.h>

#include <fmt/core.h>

#include <cstdlib>
#include <filesystem>

#include "h1_operations.h"
#include "sim/h1_forwarding.h"

namespace tavhost {

namespace {

bool overTcp = false;

}  // namespace

void UseH1OverTcp(const std::string& library, const std::string& map) {
  // The C runtime is one DLL for every module here, so libh1tcp's getenv sees this.
  if (_putenv_s("TAV_H1TCP_MAP", map.c_str()) != 0) {
    fmt::print(stderr, "cannot set TAV_H1TCP_MAP\n");
    std::exit(1);
  }
  std::error_code error;
  std::filesystem::path fullPath = std::filesystem::absolute(library, error);
  const std::string problem =
      tav::sim::ForwardH1OperationsTo(error ? library : fullPath.make_preferred().string());
  if (!problem.empty()) {
    fmt::print(stderr, "{}\n", problem);
    std::exit(1);
  }
  overTcp = true;
}

bool UsingH1OverTcp() {
  return overTcp;
}

// libh1eth is Linux only: tavhost.exe has no --h1-interface to ask for it.
void UseH1OverEthernet(const std::string& /*library*/, const std::string& /*interfaceName*/) {
  fmt::print(stderr, "H1 over raw Ethernet (libh1eth) is Linux-only\n");
  std::exit(1);
}

bool UsingH1OverEthernet() {
  return false;
}

bool UsingRealStations() {
  return overTcp;
}

// The driver binds to the H1 library's operations itself here: tavhost sees no open to note.
std::optional<std::string> H1LibraryOpenFailure() {
  return std::nullopt;
}

}  // namespace tavhost
