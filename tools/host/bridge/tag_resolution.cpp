// The bridge file's tags resolved against the stations the station file configures.
#include <fmt/core.h>

#include <map>
#include <utility>

#include "bridge/bridge_settings.h"
#include "bridge/settings_text.h"
#include "vocabulary/element_kinds.h"

namespace tavhost::bridge {

namespace {

// "tag "temperature", address "01DF0100011": " in front of what is wrong with the address.
std::string TagWhere(const TagSettings& tag) {
  return fmt::format("tag \"{}\", address {}", tag.name, Quoted(tag.address));
}

// Reads one tag's address as `tavhost check` does; the problem, or nothing when every command
// that polls or writes the tag takes it.
std::optional<std::string> ResolveAddress(TagSettings& tag, const StationLookup& stations) {
  tag.thirteen = tag.address;
  if (tav::IsFamiliarAddress(tag.address)) {
    const tav::FamiliarTranslation translation = tav::TranslateFamiliarAddress(
        tag.address, tag.hostDataType == tav::kHostTypeFloat, stations);
    if (!translation.translated()) {
      return fmt::format("{}: {} (rule {})", TagWhere(tag),
                         FamiliarRefusalText(tag.address, translation.rule),
                         FamiliarRuleName(translation.rule));
    }
    tag.thirteen = std::string(translation.address());
  }
  if (tag.thirteen.size() > kAddressCharacters) {
    return fmt::format("{}: an address has at most 13 characters, not {}", TagWhere(tag),
                       tag.thirteen.size());
  }
  tag.resolvedType = tag.hostDataType.value_or(HostDataTypeFor(tag.thirteen, stations));
  tag.reading = ReadAddress(tag.thirteen, AddressCommand::kParse, tag.resolvedType, 1, stations);
  if (!tag.reading.valid()) {
    return fmt::format("{}: {} (rule {})", TagWhere(tag), RefusalText(*tag.reading.refusal),
                       tag.reading.refusal->rule);
  }
  const AddressReading check =
      ReadAddress(tag.thirteen, AddressCommand::kCheck, tag.resolvedType, 1, stations);
  if (!check.valid() && check.refusal->rule != "check-string") {
    return fmt::format("{}: command 4: {} (rule {})", TagWhere(tag), RefusalText(*check.refusal),
                       check.refusal->rule);
  }
  if (const std::optional<std::string> refusal =
          TransferRefusal(tag.reading.areaTypeCode, tag.reading.bitNumber)) {
    return fmt::format("{}: {}", TagWhere(tag), *refusal);
  }
  return std::nullopt;
}

// The kind of value a resolved tag holds: "float", "word", "bit", ...
std::string_view KindOf(const TagSettings& tag) {
  if (tag.reading.bitNumber != tav::kNoBitNumber) return "bit";
  const tav::AreaKindInfo* area = tav::AreaKindOf(tag.reading.areaTypeCode);
  return tav::InfoOf(area != nullptr ? area->element : tav::ElementKind::kNone).name;
}

}  // namespace

BridgeFileProblems CheckTagAddresses(BridgeSettings& settings, const StationLookup& stations) {
  BridgeFileProblems problems;
  const auto problem = [&](int line, std::string what) {
    problems.push_back({settings.file, line, std::move(what)});
  };
  for (const auto& [station, line] : settings.stationNameLines) {
    if (!stations.typeOf(stations.context, station)) {
      problem(line,
              fmt::format("station {:02} is named, but the station file does not configure it",
                          station));
    }
  }
  std::map<std::pair<int, std::string>, int> lineOfName;
  for (GroupSettings& group : settings.groups) {
    for (TagSettings& tag : group.tags) {
      if (tag.address.empty()) continue;
      if (std::optional<std::string> refused = ResolveAddress(tag, stations)) {
        problem(tag.line, std::move(*refused));
        continue;
      }
      if (tag.deadband && KindOf(tag) != "float") {
        problem(tag.line, fmt::format("{}: a deadband is for floats, and this is a {}",
                                      TagWhere(tag), KindOf(tag)));
      }
      if (tag.isSigned && KindOf(tag) != "word" && KindOf(tag) != "double word") {
        problem(tag.line, fmt::format("{}: signed is for words and double words, and this is a {}",
                                      TagWhere(tag), KindOf(tag)));
      }
      const auto [first, added] = lineOfName.emplace(std::pair(tag.station(), tag.name), tag.line);
      if (!added) {
        problem(tag.line, fmt::format("tag name \"{}\" is given twice at station {:02} (first on "
                                      "line {})",
                                      tag.name, tag.station(), first->second));
      }
    }
  }
  SortByLine(problems);
  return problems;
}

BridgeFileProblems AllProblems(BridgeFileReading& reading, const StationLookup& stations) {
  BridgeFileProblems problems = reading.problems;
  for (BridgeFileProblem& problem : CheckTagAddresses(*reading.settings, stations)) {
    problems.push_back(std::move(problem));
  }
  SortByLine(problems);
  return problems;
}

}  // namespace tavhost::bridge
