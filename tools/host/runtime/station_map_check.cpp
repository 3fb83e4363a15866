#include "runtime/station_map_check.h"

#include <fmt/core.h>

#include <array>
#include <cctype>
#include <cstring>

#include "vocabulary/ethernet_address.h"

namespace tavhost {

namespace {

// The station file as the driver reads it, as far as the type of each station goes: at most
// 64 KiB; a last line without a line feed counts only when it keeps 10 characters; up to the
// second comma of a line, blanks and control characters are dropped, and bytes 0x80 to 0xFF
// everywhere; a line keeps at most 135 characters; a ';' starts a comment.
constexpr size_t kStationFileBytes = 65'536;
constexpr size_t kLastLineMinimum = 10;
constexpr size_t kLineKept = 135;
constexpr int kCommasBeforeBlanksKept = 2;
constexpr int kFirstFileStation = 1;
constexpr int kTypeFirst = 5;
constexpr int kTypeLast = 7;

// One line as the driver keeps it.
std::string KeptLine(std::string_view raw) {
  std::string kept;
  int commas = 0;
  for (const char c : raw) {
    if (c == ',') ++commas;
    const auto byte = static_cast<unsigned char>(c);
    const bool keep = byte < 0x80 && (commas < kCommasBeforeBlanksKept ? byte > ' ' : byte >= ' ');
    if (keep && kept.size() < kLineKept) kept += c;
  }
  return kept;
}

// A decimal number with an optional sign at `at`, as the driver's scan reads it; large values
// saturate far beyond any station or type.
bool ScanDecimal(std::string_view text, size_t& at, int& value) {
  size_t p = at;
  const bool negative = p < text.size() && text[p] == '-';
  if (p < text.size() && (text[p] == '-' || text[p] == '+')) ++p;
  if (p >= text.size() || std::isdigit(static_cast<unsigned char>(text[p])) == 0) return false;
  int64_t magnitude = 0;
  for (; p < text.size() && std::isdigit(static_cast<unsigned char>(text[p])) != 0; ++p) {
    magnitude = std::min<int64_t>(magnitude * 10 + (text[p] - '0'), 1'000'000);
  }
  value = static_cast<int>(negative ? -magnitude : magnitude);
  at = p;
  return true;
}

// For each station, the number of the station file's line that stored its type last (0: none).
// The driver stores the type of a line with a valid station and type even when the rest of the
// line is refused.
std::array<int, tav::kStationCount> StationTypeLines(std::string_view text) {
  std::array<int, tav::kStationCount> lines{};
  const bool cut = text.size() > kStationFileBytes;
  text = text.substr(0, kStationFileBytes);
  int number = 0;
  while (!text.empty()) {
    ++number;
    const size_t end = text.find('\n');
    const std::string kept = KeptLine(text.substr(0, end));
    if (end == std::string_view::npos && (cut || kept.size() < kLastLineMinimum)) break;
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::string_view line = std::string_view(kept).substr(0, kept.find(';'));
    size_t at = 0;
    int station = 0;
    int type = 0;
    if (!ScanDecimal(line, at, station) || at >= line.size() || line[at] != '=') continue;
    ++at;
    if (!ScanDecimal(line, at, type)) continue;
    if (station >= kFirstFileStation && station <= tav::kLastStation && type >= kTypeFirst &&
        type <= kTypeLast) {
      lines[static_cast<size_t>(station)] = number;
    }
  }
  return lines;
}

// The station type a protocol serves.
int TypeServedBy(tav::h1tcp::Protocol protocol) {
  switch (protocol) {
    case tav::h1tcp::Protocol::kS7:
      return tav::kPlcTypeS7;
    case tav::h1tcp::Protocol::kS7Words:
      return 6;
    case tav::h1tcp::Protocol::kS5Iso:
    case tav::h1tcp::Protocol::kS5Tcp:
      break;
  }
  return tav::kPlcTypeS5;
}

std::string TypeText(int type) {
  switch (type) {
    case tav::kPlcTypeS5:
      return "an S5 station (type 5)";
    case tav::kPlcTypeS7:
      return "an S7 station (type 7)";
    default:
      return fmt::format("a type-{} station", type);
  }
}

std::string ServedText(int type) {
  switch (type) {
    case tav::kPlcTypeS5:
      return "S5 stations (type 5)";
    case tav::kPlcTypeS7:
      return "S7 stations (type 7)";
    default:
      return fmt::format("type-{} stations", type);
  }
}

}  // namespace

std::optional<std::string> StationMapMismatch(const tav::DriverInstance& instance,
                                              NamedText stationFile, std::string_view mapName,
                                              const tav::h1tcp::StationMap& map) {
  const std::array<int, tav::kStationCount> typeLines = StationTypeLines(stationFile.text);
  for (int n = 0; n < tav::kStationCount; ++n) {
    const tav::PlcEntry& entry = instance.plcTable[n];
    if (!tav::IsConfigured(entry)) continue;
    const std::string_view addressText(
        entry.ethernetAddress, strnlen(entry.ethernetAddress, sizeof entry.ethernetAddress));
    const std::optional<tav::EthernetAddress> address = tav::ParseEthernetAddressText(addressText);
    if (!address) continue;
    const tav::h1tcp::Route* route = map.Find(*address);
    if (route == nullptr) continue;
    const int served = TypeServedBy(route->protocol);
    if (served == entry.plcType) continue;
    const int typeLine = typeLines[static_cast<size_t>(n)];
    const std::string where = typeLine == 0 ? std::string(stationFile.name)
                                            : fmt::format("{} line {}", stationFile.name, typeLine);
    return fmt::format(
        "{} makes station {} {}, but {} line {} maps its address {} with {}, which "
        "serves {} only",
        where, n, TypeText(entry.plcType), mapName, route->line, addressText,
        tav::h1tcp::ProtocolName(route->protocol), ServedText(served));
  }
  return std::nullopt;
}

std::optional<std::string> StationAbsentFromMap(const tav::DriverInstance& instance, int station,
                                                std::string_view mapName,
                                                const tav::h1tcp::StationMap& map) {
  if (station < 0 || station >= tav::kStationCount) return std::nullopt;
  const tav::PlcEntry& entry = instance.plcTable[station];
  if (!tav::IsConfigured(entry)) return std::nullopt;
  const std::string_view addressText(entry.ethernetAddress,
                                     strnlen(entry.ethernetAddress, sizeof entry.ethernetAddress));
  const std::optional<tav::EthernetAddress> address = tav::ParseEthernetAddressText(addressText);
  if (!address || map.Find(*address) != nullptr) return std::nullopt;
  return fmt::format("station {:02} ({}) is not in the station map {}: libh1tcp cannot reach it",
                     station, addressText, mapName);
}

}  // namespace tavhost
