#include "cli/install_layout.h"

#include <string_view>
#include <system_error>

namespace tavhost {

namespace {

// `relative` to the program's folder when that exists, else `built`; a part this build does not
// install has an empty `relative`.
std::string InstalledOr(std::string_view relative, const char* built) {
  const std::filesystem::path folder = ProgramFolder();
  if (!folder.empty() && !relative.empty()) {
    std::error_code error;
    const std::filesystem::path installed = (folder / relative).lexically_normal();
    if (std::filesystem::exists(installed, error)) return installed.string();
  }
  return built;
}

}  // namespace

std::string DefaultDriverPath() {
  return InstalledOr(TAV_INSTALLED_DRIVER, TAVSH1_DEFAULT_LIBRARY);
}

std::string DefaultH1TcpPath() {
  return InstalledOr(TAV_INSTALLED_H1TCP, TAV_H1TCP_DEFAULT_LIBRARY);
}

std::string DefaultH1EthPath() {
  return InstalledOr(TAV_INSTALLED_H1ETH, TAV_H1ETH_DEFAULT_LIBRARY);
}

std::string ExampleStationFile() {
  return InstalledOr(TAV_INSTALLED_EXAMPLES "/tavSH101.int", TAV_EXAMPLES_DIR "/tavSH101.int");
}

}  // namespace tavhost
