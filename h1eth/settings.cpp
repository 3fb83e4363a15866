#include "settings.h"

#include <algorithm>
#include <bit>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "file_access.h"
#include "toml_file/document.h"
#include "vocabulary/configuration_file.h"

namespace tav::h1eth {

namespace {

using toml_file::Node;

// A whole-number key: its range and where it goes.
struct NumberKey {
  std::string_view name;
  int64_t lowest;
  int64_t highest;
  void (*store)(Settings&, int64_t);
};

template <auto Member>
void Store(Settings& settings, int64_t value) {
  using Field = std::remove_reference_t<decltype(settings.*Member)>;
  settings.*Member = static_cast<Field>(value);
}

constexpr int64_t kLongestMilliseconds = 3'600'000;

constexpr NumberKey kNumberKeys[] = {
    {"tpdu_size", 128, 1024, Store<&Settings::tpduBytes>},
    {"credit", 1, 65535, Store<&Settings::credit>},
    {"retransmission_ms", 1, kLongestMilliseconds, Store<&Settings::retransmissionMilliseconds>},
    {"retries", 0, 100, Store<&Settings::retries>},
    {"acknowledge_ms", 1, kLongestMilliseconds, Store<&Settings::acknowledgeMilliseconds>},
    {"window_ms", 1, kLongestMilliseconds, Store<&Settings::windowMilliseconds>},
    {"inactivity_ms", 1, kLongestMilliseconds, Store<&Settings::inactivityMilliseconds>},
};

struct SwitchKey {
  std::string_view name;
  bool Settings::*member;
};
constexpr SwitchKey kSwitchKeys[] = {
    {"checksum", &Settings::checksum},
    {"extended_numbering", &Settings::extendedNumbering},
};

constexpr int64_t kNormalCreditLimit = 15;

std::string LinePrefix(const Node& node) {
  return "line " + std::to_string(node.line()) + ": ";
}

// One key's problem, or nothing when it was taken.
std::optional<std::string> Take(std::string_view key, const Node& node, Settings& settings) {
  const std::string at = LinePrefix(node);
  for (const SwitchKey& entry : kSwitchKeys) {
    if (entry.name != key) continue;
    const std::optional<bool> value = node.Boolean();
    if (!value) return at + std::string(key) + " takes true or false";
    settings.*entry.member = *value;
    return std::nullopt;
  }
  for (const NumberKey& entry : kNumberKeys) {
    if (entry.name != key) continue;
    const std::string range = std::to_string(entry.lowest) + " to " + std::to_string(entry.highest);
    const std::optional<int64_t> number = node.Integer();
    if (!number) return at + std::string(key) + " takes a whole number, " + range;
    const int64_t value = *number;
    if (value < entry.lowest || value > entry.highest) {
      return at + std::string(key) + " = " + std::to_string(value) + " is outside " + range;
    }
    if (key == "tpdu_size" && (value & (value - 1)) != 0) {
      return at + "tpdu_size takes 128, 256, 512 or 1024";
    }
    entry.store(settings, value);
    return std::nullopt;
  }
  return at + "unknown key '" + std::string(key) + "'";
}

constexpr std::string_view kWordAddressedKey = "word_addressed";

// word_addressed: a list of Ethernet addresses; each entry that is not one is reported and left
// out, the others are taken.
void TakeWordAddressed(const Node& node, SettingsReading& reading) {
  const toml_file::Array entries = node.AsArray();
  if (!entries) {
    reading.problems.push_back(LinePrefix(node) +
                               "word_addressed takes a list of Ethernet addresses, "
                               "[\"080006000001\", ...]");
    return;
  }
  for (const Node& entry : entries.Items()) {
    const std::optional<std::string> text = entry.String();
    const std::optional<EthernetAddress> address =
        text ? ParseEthernetAddressText(*text) : std::nullopt;
    if (!address) {
      reading.problems.push_back(LinePrefix(entry) +
                                 "word_addressed takes Ethernet addresses of 12 hex digits; "
                                 "an entry left out");
      continue;
    }
    reading.settings.wordAddressedStations.push_back(*address);
  }
}

}  // namespace

SettingsReading ParseSettings(std::string_view text) {
  SettingsReading reading;
  const toml_file::Parsed parsed = toml_file::Parse(text);
  if (!parsed.document) {
    const toml_file::ParseProblem& problem = parsed.problem;
    const std::string line = "line " + std::to_string(problem.at.line) + ": ";
    switch (problem.kind) {
      case toml_file::ParseProblem::Kind::kNotText:
        reading.problems.push_back(line + "not text; the file is ignored");
        break;
      case toml_file::ParseProblem::Kind::kSyntax:
        reading.problems.push_back(line + problem.description + "; the file is ignored");
        break;
      case toml_file::ParseProblem::Kind::kParserCheck:
        reading.problems.emplace_back("not TOML; the file is ignored");
        break;
    }
    return reading;
  }
  // Lines in the file's order, so that the problems read top to bottom.
  std::vector<toml_file::Table::Entry> keys = parsed.document->root().Entries();
  std::ranges::sort(keys,
                    [](const auto& a, const auto& b) { return a.value.line() < b.value.line(); });
  for (const auto& [key, node] : keys) {
    if (key == kWordAddressedKey) {
      TakeWordAddressed(node, reading);
      continue;
    }
    if (std::optional<std::string> problem = Take(key, node, reading.settings)) {
      reading.problems.push_back(std::move(*problem));
    }
  }
  Settings& settings = reading.settings;
  if (!settings.extendedNumbering && settings.credit > kNormalCreditLimit) {
    reading.problems.push_back("credit " + std::to_string(settings.credit) +
                               " needs extended_numbering = true; credit 15 instead");
    settings.credit = kNormalCreditLimit;
  }
  return reading;
}

std::string SettingsFilePath(std::string_view variable, std::string_view libraryFolder) {
  return ConfigurationFilePath(variable, kSettingsFileName, libraryFolder, PathExists);
}

SettingsReading ReadSettingsFile(const std::string& path, bool named) {
  FileReading file = ReadSmallFile(path, kSettingsByteLimit);
  SettingsReading reading;
  switch (file.outcome) {
    case FileReadOutcome::kRead:
      return ParseSettings(file.text);
    case FileReadOutcome::kMissing:
      if (!named) return reading;
      reading.problems.push_back(std::string("does not exist (") + kSettingsVariable +
                                 " names it)");
      break;
    case FileReadOutcome::kDirectory:
      reading.problems.emplace_back("is a directory");
      break;
    case FileReadOutcome::kNotRegular:
      reading.problems.emplace_back("is not a regular file (a FIFO, a device or a socket)");
      break;
    case FileReadOutcome::kTooLarge:
      reading.problems.push_back("is larger than " + std::to_string(kSettingsByteLimit) + " bytes");
      break;
    case FileReadOutcome::kUnreadable:
      reading.problems.push_back("cannot be read (" + file.detail + ")");
      break;
  }
  reading.problems.back() += ": the defaults apply";
  return reading;
}

TransportSettings TransportSettingsOf(const Settings& settings) {
  TransportSettings transport;
  transport.tpduSizeCode = static_cast<uint8_t>(std::countr_zero(settings.tpduBytes));
  transport.checksum = settings.checksum;
  transport.offerExtendedNumbering = settings.extendedNumbering;
  transport.credit = settings.credit;
  transport.retransmissionTime = Microseconds{settings.retransmissionMilliseconds} * 1000;
  transport.maxTransmissions = static_cast<int>(settings.retries) + 1;
  transport.acknowledgeDelay = Microseconds{settings.acknowledgeMilliseconds} * 1000;
  transport.windowTime = Microseconds{settings.windowMilliseconds} * 1000;
  transport.inactivityTime = Microseconds{settings.inactivityMilliseconds} * 1000;
  return transport;
}

bool IsWordAddressed(const Settings& settings, const EthernetAddress& address) {
  return std::ranges::find(settings.wordAddressedStations, address) !=
         settings.wordAddressedStations.end();
}

}  // namespace tav::h1eth
