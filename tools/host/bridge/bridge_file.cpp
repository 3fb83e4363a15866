// The bridge file's reader: the TOML file checked key by key, every problem with its line.
#include <fmt/core.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <set>
#include <utility>

#include "bridge/bridge_settings.h"
#include "bridge/settings_text.h"
#include "cli/file_problem.h"
#include "cli/toml_reading.h"
#include "toml_file/document.h"
#include "vocabulary/element_kinds.h"

namespace tavhost::bridge {

namespace {

using tav::toml_file::Array;
using tav::toml_file::KeyReader;
using tav::toml_file::Node;
using tav::toml_file::Table;

// A bridge file longer than this is refused unread: 100,000 tags take a few MiB.
constexpr size_t kMostFileBytes = size_t{32} << 20;
constexpr uint16_t kTlsPort = 8883;
constexpr int64_t kMostStation = 98;

bool IsDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The host data types a tag's `type` names, as --type takes them by name.
constexpr std::pair<std::string_view, int32_t> kTypeNames[] = {
    {"float", tav::kHostTypeFloat}, {"bit", tav::kHostTypeBit}, {"string", tav::kHostTypeString}};

// Reads one bridge file into settings, and every problem it finds on the way.
class Reader {
 public:
  Reader(const std::string& file, const std::string& folder, Environment environment,
         size_t mostTags)
      : file_(file), folder_(folder), environment_(environment), mostTags_(mostTags) {}

  BridgeSettings Read(const Table& root) {
    BridgeSettings settings;
    settings.file = file_;
    Keys(root, "the file", {"broker", "bridge", "stations", "sparkplug", "group"});
    if (const Table broker = TableOf(root, "broker")) ReadBroker(broker, settings.broker);
    if (const Table bridge = TableOf(root, "bridge")) ReadBridge(bridge, settings);
    if (const Table stations = TableOf(root, "stations")) ReadStations(stations, settings);
    if (const Table sparkplug = TableOf(root, "sparkplug")) ReadSparkplug(sparkplug, settings);
    ReadGroups(root, settings);
    return settings;
  }

  // The problems, in the order found.
  BridgeFileProblems Problems() const {
    BridgeFileProblems problems;
    for (const tav::toml_file::Problem& problem : keys_.problems) {
      problems.push_back({file_, problem.at.line, problem.what});
    }
    return problems;
  }

  bool transportProblem = false;

 private:
  void Problem(int line, std::string what) { keys_.Refuse(line, std::move(what)); }
  void Problem(const Node& node, std::string what) { keys_.Refuse(node, std::move(what)); }

  // Every key is one of `known`: a misspelt key is a problem, not silently left out.
  void Keys(const Table& table, std::string_view where,
            std::initializer_list<std::string_view> known) {
    keys_.Keys(table, known, where);
  }

  Table TableOf(const Table& parent, std::string_view key) {
    const Node node = parent.Get(key);
    if (node && !node.AsTable()) Problem(node, fmt::format("{} must be a table", key));
    return node.AsTable();
  }

  // A required key that is absent: a problem at its table.
  void Missing(const Table& table, std::string_view where, std::string_view key) {
    Problem(table, fmt::format("{} has no {}", where, key));
  }

  bool Text(const Table& table, std::string_view key, std::string& out) {
    std::string value;
    if (keys_.Text(table, key, value) != KeyReader::Outcome::kTaken) return false;
    // A NUL would end the text where C strings read it: the host printed is not the one used.
    if (value.find('\0') != std::string::npos) {
      Problem(table.Get(key), fmt::format("{} holds a NUL character (\\u0000)", key));
      return false;
    }
    out = std::move(value);
    return true;
  }

  // A text of at most `longest` characters; a longer one is a problem and is not taken.
  bool BoundedText(const Table& table, std::string_view key, size_t longest, std::string& out) {
    std::string text;
    if (!NonEmptyText(table, key, text)) return false;
    if (text.size() > longest) {
      Problem(table.Get(key),
              fmt::format("{} has {} characters, at most {}", key, text.size(), longest));
      return false;
    }
    out = std::move(text);
    return true;
  }

  bool NonEmptyText(const Table& table, std::string_view key, std::string& out) {
    if (!Text(table, key, out)) return false;
    if (!out.empty()) return true;
    Problem(table.Get(key), fmt::format("{} is empty", key));
    return false;
  }

  template <typename Number>
  bool Integer(const Table& table, std::string_view key, int64_t low, int64_t high, Number& out) {
    int64_t value = 0;
    if (keys_.Integer(table, key, low, high, value) != KeyReader::Outcome::kTaken) return false;
    out = static_cast<Number>(value);
    return true;
  }

  void Boolean(const Table& table, std::string_view key, bool& out) {
    keys_.Boolean(table, key, out);
  }

  // A file the bridge reads, from the bridge file's folder unless it is complete.
  void File(const Table& table, std::string_view key, std::string& out) {
    if (!NonEmptyText(table, key, out)) return;
    const std::filesystem::path path(out);
    if (path.is_relative())
      out = (std::filesystem::path(folder_) / path).lexically_normal().string();
    if (const std::optional<std::string> problem = FileReadProblem(out)) {
      Problem(table.Get(key), fmt::format("{}: {}", key, *problem));
    }
  }

  // A tag's, station's or group's name, which becomes a topic level or names one.
  bool Name(const Node& node, std::string_view what, const std::string& name) {
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

  void ReadBroker(const Table& table, BrokerSettings& broker) {
    Keys(table, "[broker]",
         {"host", "port", "client_id", "keep_alive_s", "username", "password", "password_env",
          "tls"});
    BoundedText(table, "host", kLongestHost, broker.host);
    if (const Table tls = TableOf(table, "tls")) {
      ReadTls(tls, broker.tls);
      broker.port = kTlsPort;
    }
    Integer(table, "port", 1, 65535, broker.port);
    if (BoundedText(table, "client_id", kLongestClientId, broker.clientId) &&
        !std::all_of(broker.clientId.begin(), broker.clientId.end(),
                     [](char c) { return c > ' ' && c < 0x7F; })) {
      Problem(table.Get("client_id"), "client_id has printable characters only, no blanks");
    }
    Integer(table, "keep_alive_s", kShortestKeepAliveSeconds, kLongestKeepAliveSeconds,
            broker.keepAliveSeconds);
    NonEmptyText(table, "username", broker.username);
    ReadPassword(table, broker);
  }

  void ReadTls(const Table& table, TlsSettings& tls) {
    Keys(table, "[broker.tls]", {"ca_file", "cert_file", "key_file"});
    if (!table.Get("ca_file")) Missing(table, "[broker.tls]", "ca_file");
    File(table, "ca_file", tls.caFile);
    File(table, "cert_file", tls.certFile);
    File(table, "key_file", tls.keyFile);
    if (!table.Get("cert_file") != !table.Get("key_file")) {
      Problem(table, "[broker.tls] takes cert_file and key_file together, or neither");
    }
  }

  // The password, from the file or from the environment variable it names; its value never
  // appears in a problem.
  void ReadPassword(const Table& table, BrokerSettings& broker) {
    const Node inFile = table.Get("password");
    const Node fromEnvironment = table.Get("password_env");
    if (inFile && fromEnvironment) {
      return Problem(fromEnvironment, "[broker] takes password or password_env, not both");
    }
    if (inFile) Text(table, "password", broker.password);
    if (fromEnvironment && NonEmptyText(table, "password_env", broker.passwordEnvironment)) {
      const std::optional<std::string> value = environment_(broker.passwordEnvironment);
      if (!value) {
        Problem(fromEnvironment, fmt::format("password_env: the environment variable {} is not set",
                                             broker.passwordEnvironment));
      } else {
        broker.password = *value;
      }
    }
    if ((inFile || fromEnvironment) && !table.Get("username")) {
      Problem(inFile ? inFile : fromEnvironment, "a password needs a username in [broker]");
    }
  }

  void ReadBridge(const Table& table, BridgeSettings& settings) {
    Keys(table, "[bridge]",
         {"prefix", "heartbeat_s", "station_file", "network", "tcp_map", "h1_interface",
          "timeout_ms"});
    if (BoundedText(table, "prefix", kLongestPrefix, settings.prefix))
      CheckPrefix(table.Get("prefix"), settings.prefix);
    Integer(table, "heartbeat_s", 1, kLongestHeartbeatSeconds, settings.heartbeatSeconds);
    const size_t before = keys_.problems.size();
    TransportSettings& transport = settings.transport;
    File(table, "station_file", transport.stationFile);
    File(table, "network", transport.networkFile);
    File(table, "tcp_map", transport.tcpMap);
    if (BoundedText(table, "h1_interface", kLongestInterface, transport.h1Interface) &&
        transport.h1Interface.find_first_of("/ \t") != std::string::npos) {
      Problem(table.Get("h1_interface"), "h1_interface is a network interface's name");
    }
    int chosen = 0;
    Node last;
    for (const std::string_view key : {"network", "tcp_map", "h1_interface"}) {
      if (const Node node = table.Get(key)) {
        ++chosen;
        if (!last || node.line() > last.line()) last = node;  // the later one
      }
    }
    if (chosen > 1) {
      Problem(last,
              "network, tcp_map and h1_interface exclude each other: the simulated network, "
              "libh1tcp or libh1eth");
    }
    Integer(table, "timeout_ms", 1, kLongestTimeoutMs, transport.timeoutMs);
    transportProblem = keys_.problems.size() != before;
  }

  // Topic levels of name characters, separated by '/'.
  void CheckPrefix(const Node& node, const std::string& prefix) {
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

  void ReadStations(const Table& table, BridgeSettings& settings) {
    std::map<std::string, int> lineOfName;
    for (const auto& [key, value] : table.Entries()) {
      const std::string number(key);
      if (number.size() != 2 || !IsDigits(number) || std::stoi(number) > kMostStation) {
        Problem(value, fmt::format("[stations] key '{}': a station is two digits, 00 to {}", number,
                                   kMostStation));
        continue;
      }
      const std::optional<std::string> name = value.String();
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
      const auto [first, added] = lineOfName.emplace(*name, value.line());
      if (!added) {
        Problem(value, fmt::format("station name \"{}\" is given twice (first on line {})", *name,
                                   first->second));
        continue;
      }
      settings.stationNames[std::stoi(number)] = *name;
      settings.stationNameLines[std::stoi(number)] = value.line();
    }
  }

  // Sparkplug's ids are topic levels: name characters only, no '/', '+' or '#'.
  void SparkplugId(const Table& table, std::string_view key, std::string& out) {
    if (BoundedText(table, key, kLongestName, out) && !IsTopicName(out)) {
      Problem(table.Get(key),
              fmt::format("{} {}: letters, digits, '_', '-' and '.' only", key, Quoted(out)));
      out.clear();
    }
  }

  void ReadSparkplug(const Table& table, BridgeSettings& settings) {
    Keys(table, "[sparkplug]", {"group_id", "edge_node_id", "primary_host_id"});
    SparkplugSettings& sparkplug = settings.sparkplug.emplace();
    sparkplug.line = table.line();
    if (!table.Get("group_id")) Missing(table, "[sparkplug]", "group_id");
    SparkplugId(table, "group_id", sparkplug.groupId);
    SparkplugId(table, "edge_node_id", sparkplug.edgeNodeId);
    SparkplugId(table, "primary_host_id", sparkplug.primaryHostId);
  }

  void ReadGroups(const Table& root, BridgeSettings& settings) {
    const Node node = root.Get("group");
    if (!node) {
      return Problem(0, "no [[group]]: the bridge has no tags to poll");
    }
    const Array groups = node.AsArray();
    if (!groups.IsArrayOfTables()) {
      return Problem(node, "group must be an array of tables, [[group]]");
    }
    std::map<std::string, int> lineOfName;
    for (const Node& entry : groups.Items()) {
      if (settings.groups.size() == kMostGroups) {
        return Problem(entry, fmt::format("more than {} groups", kMostGroups));
      }
      GroupSettings group = ReadGroup(entry.AsTable());
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

  GroupSettings ReadGroup(const Table& table) {
    GroupSettings group;
    group.line = table.line();
    Keys(table, "[[group]]", {"name", "period_ms", "tag"});
    if (!table.Get("name")) Missing(table, "[[group]]", "name");
    if (Text(table, "name", group.name) && !Name(table.Get("name"), "group", group.name)) {
      group.name.clear();
    }
    if (!table.Get("period_ms")) Missing(table, "[[group]]", "period_ms");
    Integer(table, "period_ms", kShortestPeriodMs, kLongestPeriodMs, group.periodMilliseconds);
    const Node tags = table.Get("tag");
    if (!tags) {
      Missing(table, "[[group]]", "[[group.tag]]");
      return group;
    }
    const Array list = tags.AsArray();
    if (!list.IsArrayOfTables()) {
      Problem(tags, "tag must be an array of tables, [[group.tag]]");
      return group;
    }
    for (const Node& entry : list.Items()) {
      if (++tags_ > mostTags_) {
        Problem(entry, fmt::format("more than {} tags: one bridge polls at most {}; split the "
                                   "plant over several bridges",
                                   mostTags_, mostTags_));
        return group;
      }
      group.tags.push_back(ReadTag(entry.AsTable()));
    }
    return group;
  }

  TagSettings ReadTag(const Table& table) {
    TagSettings tag;
    tag.line = table.line();
    Keys(table, "[[group.tag]]", {"name", "address", "type", "deadband", "writable", "signed"});
    if (!table.Get("name")) Missing(table, "[[group.tag]]", "name");
    if (Text(table, "name", tag.name)) Name(table.Get("name"), "tag", tag.name);
    if (!table.Get("address")) Missing(table, "[[group.tag]]", "address");
    NonEmptyText(table, "address", tag.address);
    std::string type;
    if (Text(table, "type", type)) {
      const auto* named = std::find_if(std::begin(kTypeNames), std::end(kTypeNames),
                                       [&type](const auto& entry) { return entry.first == type; });
      if (named == std::end(kTypeNames)) {
        Problem(table.Get("type"), fmt::format("type {}: float, bit or string", Quoted(type)));
      } else {
        tag.hostDataType = named->second;
      }
    }
    if (const Node deadband = table.Get("deadband")) {
      const std::optional<double> value = deadband.Number();
      if (!value || !std::isfinite(*value) || *value < 0) {
        Problem(deadband, "deadband must be a number, 0 or more");
      } else {
        tag.deadband = *value;
      }
    }
    Boolean(table, "writable", tag.writable);
    Boolean(table, "signed", tag.isSigned);
    return tag;
  }

  const std::string& file_;
  const std::string& folder_;
  Environment environment_;
  size_t mostTags_;
  size_t tags_ = 0;
  KeyReader keys_;
};

}  // namespace

void SortByLine(BridgeFileProblems& problems) {
  std::stable_sort(
      problems.begin(), problems.end(),
      [](const BridgeFileProblem& a, const BridgeFileProblem& b) { return a.line < b.line; });
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

// The bridge file's settings from its document.
BridgeFileReading ReadDocument(const tav::toml_file::Document& document, const std::string& file,
                               const std::string& folder, Environment environment,
                               size_t mostTags) {
  Reader reader(file, folder, environment, mostTags);
  BridgeFileReading reading{reader.Read(document.root()), reader.Problems(), false};
  reading.transportUsable = !reader.transportProblem;
  SortByLine(reading.problems);
  return reading;
}

}  // namespace

BridgeFileReading ReadBridgeFile(const std::string& path, Environment environment) {
  TomlReading reading = ReadTomlFile(path, kMostFileBytes, "bridge file");
  if (!reading.document) return Refused(path, reading.line, std::move(reading.problem));
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  return ReadDocument(*reading.document, path, folder.empty() ? "." : folder.string(),
                      environment, kMostTags);
}

BridgeFileReading ReadBridgeText(std::string_view text, const std::string& file,
                                 const std::string& folder, Environment environment,
                                 size_t mostTags) {
  const TomlReading parsed = ParseTomlText(text);
  if (!parsed.document) return Refused(file, parsed.line, parsed.problem);
  return ReadDocument(*parsed.document, file, folder, environment, mostTags);
}

}  // namespace tavhost::bridge
