#include "commands/h1_settings.h"

#include <fmt/core.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "h1eth/settings.h"

namespace tavhost {

namespace {

// h1eth.conf where libh1eth would find it beside `library`, read as libh1eth reads it; the
// defaults otherwise. Its problems go to standard error.
tav::h1eth::Settings ReadSettings(const std::string& library, const char* command) {
  const char* variable = std::getenv(tav::h1eth::kSettingsVariable);
  const std::string folder = std::filesystem::path(library).parent_path().string() + "/";
  const std::string path =
      tav::h1eth::SettingsFilePath(variable == nullptr ? "" : variable, folder);
  const tav::h1eth::SettingsReading reading = tav::h1eth::ReadSettingsFile(path, variable != nullptr && *variable != '\0');
  for (const std::string& problem : reading.problems) {
    fmt::print(stderr, "tavhost {}: {} {}\n", command, path, problem);
  }
  return reading.settings;
}

}  // namespace

tav::h1eth::Microseconds SteadyMicroseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

tav::h1eth::TransportSettings H1TransportSettings(const Host& host, const char* command) {
  return tav::h1eth::TransportSettingsOf(ReadSettings(host.h1ethPath, command));
}

}  // namespace tavhost
