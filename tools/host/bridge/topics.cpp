// The bridge's topic names and the defaults that follow from the driver number.
#include <fmt/core.h>

#include <algorithm>
#include <iterator>

#include "bridge/bridge_settings.h"

namespace tavhost::bridge {

namespace {

constexpr std::string_view kReservedNames[] = {"status", "set", "result"};

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

}  // namespace

std::string DefaultPrefix(int32_t driverNumber) {
  return fmt::format("tavsh1/{:02}", driverNumber);
}

std::string DefaultClientId(std::string_view prefix) {
  std::string id = "tavhost-bridge-" + std::string(prefix);
  std::replace(id.begin(), id.end(), '/', '-');
  return id;
}

std::string DefaultEdgeNodeId(int32_t driverNumber) {
  return fmt::format("tavsh1-{:02}", driverNumber);
}

void ApplyDriverNumber(BridgeSettings& settings, int32_t driverNumber) {
  if (settings.sparkplug && settings.sparkplug->edgeNodeId.empty()) {
    settings.sparkplug->edgeNodeId = DefaultEdgeNodeId(driverNumber);
  }
  if (settings.prefix.empty()) settings.prefix = DefaultPrefix(driverNumber);
  if (settings.broker.clientId.empty()) settings.broker.clientId = DefaultClientId(settings.prefix);
}

std::string StationTopic(const BridgeSettings& settings, int station) {
  const auto named = settings.stationNames.find(station);
  return named != settings.stationNames.end() ? named->second : fmt::format("{:02}", station);
}

std::string BridgeStatusTopic(const BridgeSettings& settings) {
  return settings.prefix + "/status";
}

std::string StationStatusTopic(const BridgeSettings& settings, int station) {
  return settings.prefix + "/" + StationTopic(settings, station) + "/status";
}

std::string TagTopic(const BridgeSettings& settings, const TagSettings& tag) {
  return settings.prefix + "/" + StationTopic(settings, tag.station()) + "/" + tag.name;
}

bool IsTopicName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), IsNameCharacter);
}

bool IsReservedName(std::string_view name) {
  return std::find(std::begin(kReservedNames), std::end(kReservedNames), name) !=
         std::end(kReservedNames);
}

}  // namespace tavhost::bridge
