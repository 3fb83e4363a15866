// On Windows the driver imports the H1 operations from the H1 library's DLL, bound when
// tavsh1.dll loads: in tavhost.exe that is the simulated network's DLL. With --tcp-map it hands
// the operations on to libh1tcp's DLL, which it loads by its full path (a second module of the
// same name), after putting the map where libh1tcp looks for it; with --h1-interface, to
// libh1eth's DLL (eth/) the same way, after naming the adapter in TAV_H1_INTERFACE.
#include <fmt/core.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>

#include "runtime/h1_operations.h"
#include "sim/h1_forwarding.h"

namespace tavhost {

namespace {

bool overTcp = false;
bool overEthernet = false;

// The library at `library`, by its full path, in place of the simulated network.
void ForwardTo(const std::string& library) {
  std::error_code error;
  std::filesystem::path fullPath = std::filesystem::absolute(library, error);
  const std::string problem =
      tav::sim::ForwardH1OperationsTo(error ? library : fullPath.make_preferred().string());
  if (!problem.empty()) {
    fmt::print(stderr, "{}\n", problem);
    std::exit(1);
  }
}

// The C runtime is one DLL for every module here, so the loaded library's getenv sees this.
void SetEnvironment(const char* name, const std::string& value) {
  if (_putenv_s(name, value.c_str()) != 0) {
    fmt::print(stderr, "cannot set {}\n", name);
    std::exit(1);
  }
}

}  // namespace

void UseH1OverTcp(const std::string& library, const std::string& map) {
  SetEnvironment("TAV_H1TCP_MAP", map);
  ForwardTo(library);
  overTcp = true;
}

bool UsingH1OverTcp() {
  return overTcp;
}

void UseH1OverEthernet(const std::string& library, const std::string& interfaceName) {
  SetEnvironment("TAV_H1_INTERFACE", interfaceName);
  ForwardTo(library);
  overEthernet = true;
}

bool UsingH1OverEthernet() {
  return overEthernet;
}

bool UsingRealStations() {
  return overTcp || overEthernet;
}

// The driver binds to the H1 library's operations itself here: tavhost sees no open to note.
std::optional<std::string> H1LibraryOpenFailure() {
  return std::nullopt;
}

}  // namespace tavhost
