#include "stations/quick_target.h"

#include <fmt/core.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <random>
#include <system_error>

namespace tavhost {

namespace {

// The Ethernet address the written files give the PLC: locally administered, so it can be no
// real adapter's. Only the station file and the map see it.
constexpr std::string_view kQuickEthernetAddress = "020000000001";

std::optional<uint16_t> PortNumber(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
    return std::nullopt;
  }
  return static_cast<uint16_t>(value);
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
}

// The folder of the written files, removed when the program ends.
class QuickTargetFolder {
 public:
  ~QuickTargetFolder() {
    std::error_code error;
    if (!path_.empty()) std::filesystem::remove_all(path_, error);
  }
  // A new folder under the system's folder for temporary files; empty when none can be made.
  const std::filesystem::path& Create() {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    std::random_device random;
    for (int attempt = 0; attempt < 16 && !error; ++attempt) {
      const std::filesystem::path candidate = base / fmt::format("tavhost-{:08x}", random());
      if (std::filesystem::create_directory(candidate, error)) return path_ = candidate;
    }
    return path_;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace

QuickTargetParse ParseQuickTarget(std::string_view hostAndPort, int slot, bool s5) {
  QuickTarget target;
  target.slot = slot;
  target.s5 = s5;
  if (hostAndPort.empty()) return {std::nullopt, "--plc needs a host name or address"};
  // An IPv6 address stays in its brackets: the map takes it so.
  size_t hostEnd = 0;
  if (hostAndPort.front() == '[') {
    hostEnd = hostAndPort.find(']');
    if (hostEnd == std::string_view::npos) {
      return {std::nullopt, "--plc: an IPv6 address in '[' needs its closing ']'"};
    }
    ++hostEnd;
  } else if (std::count(hostAndPort.begin(), hostAndPort.end(), ':') > 1) {
    return {std::nullopt,
            fmt::format("--plc: an IPv6 address goes in brackets: [{}]", hostAndPort)};
  } else {
    hostEnd = std::min(hostAndPort.find(':'), hostAndPort.size());
  }
  target.host = std::string(hostAndPort.substr(0, hostEnd));
  const std::string_view after = hostAndPort.substr(hostEnd);
  if (!after.empty()) {
    const std::optional<uint16_t> port =
        after.front() == ':' ? PortNumber(after.substr(1)) : std::nullopt;
    if (!port) {
      return {std::nullopt,
              fmt::format("--plc: the port of {} is not a number from 1 to 65535", hostAndPort)};
    }
    target.port = *port;
  } else if (s5) {
    return {std::nullopt, "--plc with --s5 needs the PLC's fetch/write port: HOST:PORT"};
  }
  if (target.host.empty()) return {std::nullopt, "--plc needs a host name or address"};
  if (target.host.find_first_of(" \t,;=") != std::string::npos) {
    return {std::nullopt, fmt::format("--plc: {} is not a host name or address", target.host)};
  }
  if (!s5 && (slot < 1 || slot > 255)) {
    return {std::nullopt, fmt::format("--slot {} is not a slot from 1 to 255", slot)};
  }
  return {target, {}};
}

std::string QuickStationFileText(const QuickTarget& target) {
  if (target.s5) return fmt::format("1=5,{}\n", kQuickEthernetAddress);
  return fmt::format("1=7,{},{:X}\n", kQuickEthernetAddress, target.slot);
}

std::string QuickStationMapText(const QuickTarget& target) {
  return fmt::format("{} = {}:{}, {}\n", kQuickEthernetAddress, target.host, target.port,
                     target.s5 ? "s5-tcp" : "s7");
}

QuickTargetFiles WriteQuickTargetFiles(const QuickTarget& target,
                                       const std::filesystem::path& folder) {
  QuickTargetFiles files{folder / "tavSH101.int", folder / "h1tcp.map"};
  WriteFile(files.stationFile, QuickStationFileText(target));
  WriteFile(files.stationMap, QuickStationMapText(target));
  return files;
}

std::string UseQuickTarget(std::string_view hostAndPort, int slot, bool s5,
                           std::string& stationMapPath, std::string& stationFilePath) {
  const QuickTargetParse parsed = ParseQuickTarget(hostAndPort, slot, s5);
  if (!parsed.target) return parsed.error;
  static QuickTargetFolder folder;
  const std::filesystem::path& path = folder.Create();
  if (path.empty()) return "--plc: cannot make a folder for the station file and map";
  const QuickTargetFiles files = WriteQuickTargetFiles(*parsed.target, path);
  stationMapPath = files.stationMap.string();
  stationFilePath = files.stationFile.string();
  return {};
}

}  // namespace tavhost
