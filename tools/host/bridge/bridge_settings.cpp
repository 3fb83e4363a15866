#include "bridge_settings.h"

#include <fmt/core.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <set>
#include <stdexcept>
#include <utility>

#include "file_problem.h"
#include "vocabulary/element_kinds.h"

namespace tavhost::bridge {
namespace {

// A consistency check of the TOML parser that failed (see below).
struct BrokenParserCheck : std::logic_error {
  using std::logic_error::logic_error;
};

[[noreturn]] void FailParserCheck(const char* check) {
  throw BrokenParserCheck(check);
}

}  // namespace
}  // namespace tavhost::bridge

// toml++ states its parser's assumptions with TOML_ASSERT, and some texts that are not TOML break
// them: with the checks on the parser would abort the process, with NDEBUG it would run on into
// undefined behaviour. Here they stay on in every build and throw, so that such a text ends the
// parse with one problem like any other. Only this file of tavhost includes toml++.
#undef NDEBUG
#define TOML_ASSERT(expr) \
  ((expr) ? static_cast<void>(0) : ::tavhost::bridge::FailParserCheck(#expr))
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 1
#include <toml++/toml.h>

namespace tavhost::bridge {

namespace {

constexpr std::string_view kReservedNames[] = {"status", "set", "result"};

// A bridge file longer than this is refused unread: 100,000 tags take a few MiB.
constexpr size_t kMostFileBytes = size_t{32} << 20;
constexpr uint16_t kTlsPort = 8883;
constexpr int64_t kMostStation = 98;

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

bool IsDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The file is ASCII text: toml++ 3.3 reaches tables undefined for parts of Unicode on some other
// characters, so they are refused before parsing (a string takes any character as a \u escape).
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::optional<BridgeFileProblem> CheckText(std::string_view text, const std::string& file) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  int line = 1;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\n') ++line;
    if (byte == '\t' || byte == '\n' || byte == '\r' || (byte >= 0x20 && byte < 0x7F)) continue;
    return BridgeFileProblem{
        file, line,
        fmt::format("byte 0x{:02X} is not ASCII text (a string takes other characters as \\u "
                    "escapes)",
                    byte)};
  }
  return std::nullopt;
}

// A text of the file in quotes, for a problem's line: control characters and quotes escaped, so
// that a name or address holding a line end (a TOML escape) still gives one line.
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      quoted += fmt::format("\\x{:02X}", byte);
    } else {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
  }
  return quoted + '"';
}

// The host data types a tag's `type` names, as --type takes them by name.
constexpr std::pair<std::string_view, int32_t> kTypeNames[] = {
    {"float", tav::kHostTypeFloat}, {"bit", tav::kHostTypeBit}, {"string", tav::kHostTypeString}};

int LineOf(const toml::node& node) {
  return static_cast<int>(node.source().begin.line);
}

// Reads one bridge file into settings, and every problem it finds on the way.
class Reader {
 public:
  Reader(const std::string& file, const std::string& folder, Environment environment,
         size_t mostTags)
      : file_(file), folder_(folder), environment_(environment), mostTags_(mostTags) {}

  BridgeSettings Read(const toml::table& root) {
    BridgeSettings settings;
    settings.file = file_;
    Keys(root, "the file", {"broker", "bridge", "stations", "group"});
    if (const toml::table* broker = Table(root, "broker")) ReadBroker(*broker, settings.broker);
    if (const toml::table* bridge = Table(root, "bridge")) ReadBridge(*bridge, settings);
    if (const toml::table* stations = Table(root, "stations")) ReadStations(*stations, settings);
    ReadGroups(root, settings);
    return settings;
  }

  BridgeFileProblems problems;
  bool transportProblem = false;

 private:
  void Problem(int line, std::string what) { problems.push_back({file_, line, std::move(what)}); }
  void Problem(const toml::node& node, std::string what) { Problem(LineOf(node), std::move(what)); }

  // Every key is one of `known`: a misspelt key is a problem, not silently left out.
  void Keys(const toml::table& table, std::string_view where,
            std::initializer_list<std::string_view> known) {
    for (const auto& [key, value] : table) {
      if (std::find(known.begin(), known.end(), key.str()) != known.end()) continue;
      Problem(value, fmt::format("unknown key '{}' in {}", key.str(), where));
    }
  }

  const toml::table* Table(const toml::table& parent, std::string_view key) {
    const toml::node* node = parent.get(key);
    if (node == nullptr) return nullptr;
    if (node->as_table() == nullptr) Problem(*node, fmt::format("{} must be a table", key));
    return node->as_table();
  }

  // A required key that is absent: a problem at its table.
  void Missing(const toml::table& table, std::string_view where, std::string_view key) {
    Problem(table, fmt::format("{} has no {}", where, key));
  }

  bool Text(const toml::table& table, std::string_view key, std::string& out) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return false;
    const std::optional<std::string> value = node->value_exact<std::string>();
    if (!value) {
      Problem(*node, fmt::format("{} must be a string", key));
      return false;
    }
    // A NUL would end the text where C strings read it: the host printed is not the one used.
    if (value->find('\0') != std::string::npos) {
      Problem(*node, fmt::format("{} holds a NUL character (\\u0000)", key));
      return false;
    }
    out = *value;
    return true;
  }

  // A text of at most `longest` characters; a longer one is a problem and is not taken.
  bool BoundedText(const toml::table& table, std::string_view key, size_t longest,
                   std::string& out) {
    std::string text;
    if (!NonEmptyText(table, key, text)) return false;
    if (text.size() > longest) {
      Problem(*table.get(key),
              fmt::format("{} has {} characters, at most {}", key, text.size(), longest));
      return false;
    }
    out = std::move(text);
    return true;
  }

  bool NonEmptyText(const toml::table& table, std::string_view key, std::string& out) {
    if (!Text(table, key, out)) return false;
    if (!out.empty()) return true;
    Problem(*table.get(key), fmt::format("{} is empty", key));
    return false;
  }

  template <typename Number>
  bool Integer(const toml::table& table, std::string_view key, int64_t low, int64_t high,
               Number& out) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return false;
    const std::optional<int64_t> value = node->value_exact<int64_t>();
    if (!value || *value < low || *value > high) {
      Problem(*node, fmt::format("{} must be an integer from {} to {}", key, low, high));
      return false;
    }
    out = static_cast<Number>(*value);
    return true;
  }

  void Boolean(const toml::table& table, std::string_view key, bool& out) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return;
    const std::optional<bool> value = node->value_exact<bool>();
    if (!value) return Problem(*node, fmt::format("{} must be true or false", key));
    out = *value;
  }

  // A file the bridge reads, from the bridge file's folder unless it is complete.
  void File(const toml::table& table, std::string_view key, std::string& out) {
    if (!NonEmptyText(table, key, out)) return;
    const std::filesystem::path path(out);
    if (path.is_relative())
      out = (std::filesystem::path(folder_) / path).lexically_normal().string();
    if (const std::optional<std::string> problem = FileReadProblem(out)) {
      Problem(*table.get(key), fmt::format("{}: {}", key, *problem));
    }
  }

  // A tag's, station's or group's name, which becomes a topic level or names one.
  bool Name(const toml::node& node, std::string_view what, const std::string& name) {
    if (name.size() > kLongestName) {
      Problem(node, fmt::format("{} \"{}...\": a name has at most {} characters, not {}", what,
                                name.substr(0, 20), kLongestName, name.size()));
      return false;
    }
    if (!IsTopicName(name)) {
      Problem(node, fmt::format("{} {}: a name has letters, digits, '_', '-' and '.' only", what,
                                Quoted(name)));
      return false;
    }
    if (IsReservedName(name)) {
      Problem(node, fmt::format("{} \"{}\" is reserved: status, set and result are topics of the "
                                "bridge's own",
                                what, name));
      return false;
    }
    return true;
  }

  void ReadBroker(const toml::table& table, BrokerSettings& broker) {
    Keys(table, "[broker]",
         {"host", "port", "client_id", "keep_alive_s", "username", "password", "password_env",
          "tls"});
    BoundedText(table, "host", kLongestHost, broker.host);
    if (const toml::table* tls = Table(table, "tls")) {
      ReadTls(*tls, broker.tls);
      broker.port = kTlsPort;
    }
    Integer(table, "port", 1, 65535, broker.port);
    if (BoundedText(table, "client_id", kLongestClientId, broker.clientId) &&
        !std::all_of(broker.clientId.begin(), broker.clientId.end(),
                     [](char c) { return c > ' ' && c < 0x7F; })) {
      Problem(*table.get("client_id"), "client_id has printable characters only, no blanks");
    }
    Integer(table, "keep_alive_s", kShortestKeepAliveSeconds, kLongestKeepAliveSeconds,
            broker.keepAliveSeconds);
    NonEmptyText(table, "username", broker.username);
    ReadPassword(table, broker);
  }

  void ReadTls(const toml::table& table, TlsSettings& tls) {
    Keys(table, "[broker.tls]", {"ca_file", "cert_file", "key_file"});
    if (table.get("ca_file") == nullptr) Missing(table, "[broker.tls]", "ca_file");
    File(table, "ca_file", tls.caFile);
    File(table, "cert_file", tls.certFile);
    File(table, "key_file", tls.keyFile);
    if ((table.get("cert_file") == nullptr) != (table.get("key_file") == nullptr)) {
      Problem(table, "[broker.tls] takes cert_file and key_file together, or neither");
    }
  }

  // The password, from the file or from the environment variable it names; its value never
  // appears in a problem.
  void ReadPassword(const toml::table& table, BrokerSettings& broker) {
    const toml::node* inFile = table.get("password");
    const toml::node* fromEnvironment = table.get("password_env");
    if (inFile != nullptr && fromEnvironment != nullptr) {
      return Problem(*fromEnvironment, "[broker] takes password or password_env, not both");
    }
    if (inFile != nullptr) Text(table, "password", broker.password);
    if (fromEnvironment != nullptr &&
        NonEmptyText(table, "password_env", broker.passwordEnvironment)) {
      const std::optional<std::string> value = environment_(broker.passwordEnvironment);
      if (!value) {
        Problem(*fromEnvironment,
                fmt::format("password_env: the environment variable {} is not set",
                            broker.passwordEnvironment));
      } else {
        broker.password = *value;
      }
    }
    if ((inFile != nullptr || fromEnvironment != nullptr) && table.get("username") == nullptr) {
      Problem(inFile != nullptr ? *inFile : *fromEnvironment,
              "a password needs a username in [broker]");
    }
  }

  void ReadBridge(const toml::table& table, BridgeSettings& settings) {
    Keys(table, "[bridge]",
         {"prefix", "heartbeat_s", "station_file", "network", "tcp_map", "h1_interface",
          "timeout_ms"});
    if (BoundedText(table, "prefix", kLongestPrefix, settings.prefix))
      CheckPrefix(*table.get("prefix"), settings.prefix);
    Integer(table, "heartbeat_s", 1, kLongestHeartbeatSeconds, settings.heartbeatSeconds);
    const size_t before = problems.size();
    TransportSettings& transport = settings.transport;
    File(table, "station_file", transport.stationFile);
    File(table, "network", transport.networkFile);
    File(table, "tcp_map", transport.tcpMap);
    if (BoundedText(table, "h1_interface", kLongestInterface, transport.h1Interface) &&
        transport.h1Interface.find_first_of("/ \t") != std::string::npos) {
      Problem(*table.get("h1_interface"), "h1_interface is a network interface's name");
    }
    int chosen = 0;
    const toml::node* last = nullptr;
    for (const std::string_view key : {"network", "tcp_map", "h1_interface"}) {
      if (const toml::node* node = table.get(key)) {
        ++chosen;
        if (last == nullptr || LineOf(*node) > LineOf(*last)) last = node;  // the later one
      }
    }
    if (chosen > 1) {
      Problem(*last,
              "network, tcp_map and h1_interface exclude each other: the simulated network, "
              "libh1tcp or libh1eth");
    }
    Integer(table, "timeout_ms", 1, kLongestTimeoutMs, transport.timeoutMs);
    transportProblem = problems.size() != before;
  }

  // Topic levels of name characters, separated by '/'.
  void CheckPrefix(const toml::node& node, const std::string& prefix) {
    size_t start = 0;
    while (start <= prefix.size()) {
      const size_t end = std::min(prefix.find('/', start), prefix.size());
      if (!IsTopicName(std::string_view(prefix).substr(start, end - start))) {
        return Problem(node, fmt::format("prefix {}: levels of letters, digits, '_', '-' and "
                                         "'.', separated by single '/'",
                                         Quoted(prefix)));
      }
      start = end + 1;
    }
  }

  void ReadStations(const toml::table& table, BridgeSettings& settings) {
    std::map<std::string, int> lineOfName;
    for (const auto& [key, value] : table) {
      const std::string number(key.str());
      if (number.size() != 2 || !IsDigits(number) || std::stoi(number) > kMostStation) {
        Problem(value, fmt::format("[stations] key '{}': a station is two digits, 00 to {}", number,
                                   kMostStation));
        continue;
      }
      const std::optional<std::string> name = value.value_exact<std::string>();
      if (!name) {
        Problem(value, fmt::format("station {}: its name must be a string", number));
        continue;
      }
      if (!Name(value, "station name", *name)) continue;
      if (IsDigits(*name)) {
        Problem(value, fmt::format("station name \"{}\": digits alone would read as a station's "
                                   "number",
                                   *name));
        continue;
      }
      const auto [first, added] = lineOfName.emplace(*name, LineOf(value));
      if (!added) {
        Problem(value, fmt::format("station name \"{}\" is given twice (first on line {})", *name,
                                   first->second));
        continue;
      }
      settings.stationNames[std::stoi(number)] = *name;
      settings.stationNameLines[std::stoi(number)] = LineOf(value);
    }
  }

  void ReadGroups(const toml::table& root, BridgeSettings& settings) {
    const toml::node* node = root.get("group");
    if (node == nullptr) {
      return Problem(0, "no [[group]]: the bridge has no tags to poll");
    }
    const toml::array* groups = node->as_array();
    if (groups == nullptr || !groups->is_array_of_tables()) {
      return Problem(*node, "group must be an array of tables, [[group]]");
    }
    std::map<std::string, int> lineOfName;
    for (const toml::node& entry : *groups) {
      if (settings.groups.size() == kMostGroups) {
        return Problem(entry, fmt::format("more than {} groups", kMostGroups));
      }
      GroupSettings group = ReadGroup(*entry.as_table());
      if (!group.name.empty()) {
        const auto [first, added] = lineOfName.emplace(group.name, group.line);
        if (!added) {
          Problem(group.line, fmt::format("group name \"{}\" is given twice (first on line {})",
                                          group.name, first->second));
        }
      }
      settings.groups.push_back(std::move(group));
      if (tags_ > mostTags_) return;
    }
  }

  GroupSettings ReadGroup(const toml::table& table) {
    GroupSettings group;
    group.line = LineOf(table);
    Keys(table, "[[group]]", {"name", "period_ms", "tag"});
    if (table.get("name") == nullptr) Missing(table, "[[group]]", "name");
    if (Text(table, "name", group.name) && !Name(*table.get("name"), "group", group.name)) {
      group.name.clear();
    }
    if (table.get("period_ms") == nullptr) Missing(table, "[[group]]", "period_ms");
    Integer(table, "period_ms", kShortestPeriodMs, kLongestPeriodMs, group.periodMilliseconds);
    const toml::node* tags = table.get("tag");
    if (tags == nullptr) {
      Missing(table, "[[group]]", "[[group.tag]]");
      return group;
    }
    const toml::array* list = tags->as_array();
    if (list == nullptr || !list->is_array_of_tables()) {
      Problem(*tags, "tag must be an array of tables, [[group.tag]]");
      return group;
    }
    for (const toml::node& entry : *list) {
      if (++tags_ > mostTags_) {
        Problem(entry, fmt::format("more than {} tags: one bridge polls at most {}; split the "
                                   "plant over several bridges",
                                   mostTags_, mostTags_));
        return group;
      }
      group.tags.push_back(ReadTag(*entry.as_table()));
    }
    return group;
  }

  TagSettings ReadTag(const toml::table& table) {
    TagSettings tag;
    tag.line = LineOf(table);
    Keys(table, "[[group.tag]]", {"name", "address", "type", "deadband", "writable"});
    if (table.get("name") == nullptr) Missing(table, "[[group.tag]]", "name");
    if (Text(table, "name", tag.name)) Name(*table.get("name"), "tag", tag.name);
    if (table.get("address") == nullptr) Missing(table, "[[group.tag]]", "address");
    NonEmptyText(table, "address", tag.address);
    std::string type;
    if (Text(table, "type", type)) {
      const auto* named = std::find_if(std::begin(kTypeNames), std::end(kTypeNames),
                                       [&type](const auto& entry) { return entry.first == type; });
      if (named == std::end(kTypeNames)) {
        Problem(*table.get("type"), fmt::format("type {}: float, bit or string", Quoted(type)));
      } else {
        tag.hostDataType = named->second;
      }
    }
    if (const toml::node* deadband = table.get("deadband")) {
      const std::optional<double> value = deadband->value<double>();
      if (!deadband->is_number() || !value || !std::isfinite(*value) || *value < 0) {
        Problem(*deadband, "deadband must be a number, 0 or more");
      } else {
        tag.deadband = *value;
      }
    }
    Boolean(table, "writable", tag.writable);
    return tag;
  }

  const std::string& file_;
  const std::string& folder_;
  Environment environment_;
  size_t mostTags_;
  size_t tags_ = 0;
};

void SortByLine(BridgeFileProblems& problems) {
  std::stable_sort(
      problems.begin(), problems.end(),
      [](const BridgeFileProblem& a, const BridgeFileProblem& b) { return a.line < b.line; });
}

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

std::string BridgeFileProblem::Text() const {
  return line > 0 ? fmt::format("{}:{}: {}", file, line, what) : fmt::format("{}: {}", file, what);
}

std::optional<std::string> ProcessEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

namespace {

BridgeFileReading Refused(const std::string& file, int line, std::string what) {
  return {std::nullopt, {{file, line, std::move(what)}}, false};
}

}  // namespace

BridgeFileReading ReadBridgeFile(const std::string& path, Environment environment) {
  if (const std::optional<std::string> problem = FileReadProblem(path)) {
    return Refused(path, 0, *problem);
  }
  std::ifstream file(path, std::ios::binary);
  std::string text;
  char chunk[65536];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    text.append(chunk, static_cast<size_t>(file.gcount()));
    if (text.size() > kMostFileBytes) {
      return Refused(path, 0,
                     fmt::format("longer than {} MiB, not a bridge file", kMostFileBytes >> 20));
    }
  }
  if (file.bad()) return Refused(path, 0, "cannot be read");
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  return ReadBridgeText(text, path, folder.empty() ? "." : folder.string(), environment);
}

BridgeFileReading ReadBridgeText(std::string_view text, const std::string& file,
                                 const std::string& folder, Environment environment,
                                 size_t mostTags) {
  if (std::optional<BridgeFileProblem> notText = CheckText(text, file)) {
    return {std::nullopt, {*notText}, false};
  }
  toml::table root;
  try {
    root = toml::parse(text, file);
  } catch (const toml::parse_error& error) {
    return Refused(file, static_cast<int>(error.source().begin.line),
                   fmt::format("not TOML: {}", error.description()));
  } catch (const BrokenParserCheck& check) {
    return Refused(
        file, 0,
        fmt::format("not TOML: the parser cannot go on (its check failed: {})", check.what()));
  }
  Reader reader(file, folder, environment, mostTags);
  BridgeFileReading reading{reader.Read(root), {}, false};
  reading.transportUsable = !reader.transportProblem;
  SortByLine(reader.problems);
  reading.problems = std::move(reader.problems);
  return reading;
}

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
  std::string_view host = text;
  std::string_view port;
  if (text.starts_with('[')) {
    // [IPv6]:PORT or [IPv6]
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return "the ']' after the IPv6 address is missing";
    if (close == 1) return "the host is missing";
    host = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && !rest.starts_with(':')) return "HOST:PORT, HOST or [IPv6]:PORT";
    if (!rest.empty()) port = rest.substr(1);
    if (rest == ":") return "the port is missing after ':'";
  } else if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    if (text.find(':') != colon) return "an IPv6 address goes in brackets, [::1]:1883";
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (port.empty()) return "the port is missing after ':'";
  }
  if (host.empty()) return "the host is missing";
  uint32_t number = 0;
  if (!port.empty()) {
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (error != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535) {
      return "the port is a number from 1 to 65535";
    }
    broker.port = static_cast<uint16_t>(number);
  }
  broker.host = std::string(host);
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
