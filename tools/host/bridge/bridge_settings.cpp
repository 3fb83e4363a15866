#include "bridge_settings.h"

#include <fmt/core.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>

namespace tavhost::bridge {

namespace {

constexpr std::string_view kReservedNames[] = {"status", "set", "result"};

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

}  // namespace

std::string BridgeFileProblem::Text() const {
  return line > 0 ? fmt::format("{}:{}: {}", file, line, what) : fmt::format("{}: {}", file, what);
}

std::optional<std::string> ProcessEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::variant<BridgeSettings, BridgeFileProblems> ReadBridgeFile(const std::string& path,
                                                                Environment environment) {
  (void)environment;
  return BridgeFileProblems{{path, 0, "not read yet"}};
}

std::variant<BridgeSettings, BridgeFileProblems> ReadBridgeText(std::string_view text,
                                                                const std::string& file,
                                                                const std::string& folder,
                                                                Environment environment) {
  (void)text;
  (void)folder;
  (void)environment;
  return BridgeFileProblems{{file, 0, "not read yet"}};
}

BridgeFileProblems CheckTagAddresses(BridgeSettings& settings, const StationLookup& stations) {
  (void)settings;
  (void)stations;
  return {};
}

std::string DefaultPrefix(int32_t driverNumber) {
  return fmt::format("tavsh1/{:02}", driverNumber);
}

std::string DefaultClientId(std::string_view prefix) {
  std::string id = "tavhost-bridge-" + std::string(prefix);
  std::replace(id.begin(), id.end(), '/', '-');
  return id;
}

void ApplyDriverNumber(BridgeSettings& settings, int32_t driverNumber) {
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

std::optional<std::string> ApplyBrokerOverride(std::string_view text, BrokerSettings& broker) {
  (void)text;
  (void)broker;
  return std::nullopt;
}

bool IsTopicName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), IsNameCharacter);
}

bool IsReservedName(std::string_view name) {
  return std::find(std::begin(kReservedNames), std::end(kReservedNames), name) !=
         std::end(kReservedNames);
}

}  // namespace tavhost::bridge
