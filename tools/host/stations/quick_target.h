// One PLC named on the command line (`--plc HOST[:PORT]`): tavhost writes the station file and
// the station map for it, so that a one-off read or write needs neither. The PLC becomes station
// 1 of driver 1: an S7 CPU in the slot `--slot` gives (ISO on TCP, port 102 unless given), or
// with `--s5` an S5 station speaking fetch/write over plain TCP on that port.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavhost {

struct QuickTarget {
  std::string host;
  uint16_t port = 102;
  int slot = 2;
  bool s5 = false;
};

// The target that `hostAndPort` names, or why it names none.
struct QuickTargetParse {
  std::optional<QuickTarget> target;
  std::string error;
};
QuickTargetParse ParseQuickTarget(std::string_view hostAndPort, int slot, bool s5);

// The station file (tavSH101.int) and the station map written for `target` into `folder`.
struct QuickTargetFiles {
  std::filesystem::path stationFile;
  std::filesystem::path stationMap;
};
QuickTargetFiles WriteQuickTargetFiles(const QuickTarget& target,
                                       const std::filesystem::path& folder);

// Parses `hostAndPort`, writes the files into a folder of their own (removed when tavhost ends)
// and points `stationMapPath` and `stationFilePath` at them. Returns why not, or empty.
std::string UseQuickTarget(std::string_view hostAndPort, int slot, bool s5,
                           std::string& stationMapPath, std::string& stationFilePath);

// The station file's text and the map's: what WriteQuickTargetFiles writes.
std::string QuickStationFileText(const QuickTarget& target);
std::string QuickStationMapText(const QuickTarget& target);

}  // namespace tavhost
