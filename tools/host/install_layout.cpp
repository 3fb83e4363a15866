#include "install_layout.h"

#include <system_error>

namespace tavhost {

namespace {

// `relative` to the program's folder when that exists, else `built`.
std::string InstalledOr(const char* relative, const char* built) {
  const std::filesystem::path folder = ProgramFolder();
  if (!folder.empty()) {
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

std::string ExampleStationFile() {
  return InstalledOr(TAV_INSTALLED_EXAMPLES "/tavSH101.int", TAV_EXAMPLES_DIR "/tavSH101.int");
}

}  // namespace tavhost
