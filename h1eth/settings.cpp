#include "settings.h"

#include "file_access.h"
#include "vocabulary/configuration_file.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

namespace tav::h1eth {
namespace {

struct BrokenParserCheck : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void FailParserCheck(const char* check) {
  throw BrokenParserCheck(check);
}

}  // namespace
}  // namespace tav::h1eth

// toml++'s own checks stay on in every build and throw, so that a text that breaks one (some
// texts that are not TOML do) ends the parse like any other error instead of aborting the host or
// running into undefined behaviour. Only this file includes toml++.
#undef NDEBUG
#define TOML_ASSERT(expr) ((expr) ? static_cast<void>(0) : ::tav::h1eth::FailParserCheck(#expr))
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 1
#include <toml++/toml.h>

namespace tav::h1eth {

namespace {

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

bool IsTextByte(unsigned char c) {
  return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c < 0x7F);
}

std::string LinePrefix(const toml::node& node) {
  return "line " + std::to_string(node.source().begin.line) + ": ";
}

// One key's problem, or nothing when it was taken.
std::optional<std::string> Take(std::string_view key, const toml::node& node, Settings& settings) {
  const std::string at = LinePrefix(node);
  for (const SwitchKey& entry : kSwitchKeys) {
    if (entry.name != key) continue;
    const std::optional<bool> value = node.value<bool>();
    if (!value || !node.is_boolean()) return at + std::string(key) + " takes true or false";
    settings.*entry.member = *value;
    return std::nullopt;
  }
  for (const NumberKey& entry : kNumberKeys) {
    if (entry.name != key) continue;
    const std::string range = std::to_string(entry.lowest) + " to " + std::to_string(entry.highest);
    if (!node.is_integer()) return at + std::string(key) + " takes a whole number, " + range;
    const int64_t value = *node.value<int64_t>();
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
void TakeWordAddressed(const toml::node& node, SettingsReading& reading) {
  const toml::array* entries = node.as_array();
  if (entries == nullptr) {
    reading.problems.push_back(LinePrefix(node) +
                               "word_addressed takes a list of Ethernet addresses, "
                               "[\"080006000001\", ...]");
    return;
  }
  for (const toml::node& entry : *entries) {
    const std::optional<std::string_view> text = entry.value<std::string_view>();
    const std::optional<EthernetAddress> address =
        text && entry.is_string() ? ParseEthernetAddressText(*text) : std::nullopt;
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
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  size_t line = 1;
  for (const char c : text) {
    if (!IsTextByte(static_cast<unsigned char>(c))) {
      reading.problems.push_back("line " + std::to_string(line) +
                                 ": not text; the file is ignored");
      return reading;
    }
    if (c == '\n') ++line;
  }
  toml::table root;
  try {
    root = toml::parse(text);
  } catch (const toml::parse_error& error) {
    reading.problems.push_back("line " + std::to_string(error.source().begin.line) + ": " +
                               std::string(error.description()) + "; the file is ignored");
    return reading;
  } catch (const BrokenParserCheck&) {
    reading.problems.push_back("not TOML; the file is ignored");
    return reading;
  }
  // Lines in the file's order, so that the problems read top to bottom.
  std::vector<std::pair<std::string_view, const toml::node*>> keys;
  for (const auto& [key, node] : root) keys.emplace_back(key.str(), &node);
  std::ranges::sort(keys, [](const auto& a, const auto& b) {
    return a.second->source().begin.line < b.second->source().begin.line;
  });
  for (const auto& [key, node] : keys) {
    if (key == kWordAddressedKey) {
      TakeWordAddressed(*node, reading);
      continue;
    }
    if (std::optional<std::string> problem = Take(key, *node, reading.settings)) {
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

SettingsReading ReadSettingsFile(const std::string& path) {
  FileReading file = ReadSmallFile(path, kSettingsByteLimit);
  SettingsReading reading;
  switch (file.outcome) {
    case FileReadOutcome::kRead:
      return ParseSettings(file.text);
    case FileReadOutcome::kMissing:
      return reading;
    case FileReadOutcome::kDirectory:
      reading.problems.emplace_back("is a directory");
      break;
    case FileReadOutcome::kNotRegular:
      reading.problems.emplace_back("is not a regular file (a FIFO, a device or a socket)");
      break;
    case FileReadOutcome::kTooLarge:
      reading.problems.push_back("is larger than " + std::to_string(kSettingsByteLimit) +
                                 " bytes");
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
