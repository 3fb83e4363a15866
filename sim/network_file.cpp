#include "sim/network_file.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>
#include <vector>

#include "toml_file/document.h"

namespace tav::sim {

namespace {

using toml_file::Array;
using toml_file::KeyReader;
using toml_file::Node;
using toml_file::Table;

// A simulation file longer than this is refused rather than read on: a name that leads to a
// device streaming bytes would otherwise take all memory.
constexpr size_t kMaxFileBytes = size_t{16} << 20;

constexpr int64_t kMaxPolls = 1'000'000;
constexpr size_t kTsapChars = 8;  // a connect record carries 8 characters of an S5 TSAP

// What one simulation file may ask for. Every block may hold 65,536 units, so without a bound a
// few lines of TOML would take gigabytes; these are far beyond any plant's H1 network.
constexpr size_t kMaxStations = 1000;
constexpr size_t kMaxBlocks = 10'000;
constexpr uint64_t kMaxMemoryBytes = 64 * 1024 * 1024;

// Reads one description into a network; the first error stops it.
class Reader {
 public:
  explicit Reader(std::string_view source) : source_(source) {}

  std::optional<Network> Read(const Table& root) {
    Network network;
    if (!keys_.Keys(root, {"network", "station"})) return std::nullopt;
    if (const Node settings = root.Get("network")) {
      const Table table = settings.AsTable();
      if (!table) {
        Fail(settings, "[network] must be a table");
        return std::nullopt;
      }
      int64_t result = 0;
      if (!keys_.Keys(table, {"open_driver_result"}) ||
          !Integer(table, "open_driver_result", 0, 0xFFFF, result)) {
        return std::nullopt;
      }
      network.settings.openDriverResult = static_cast<uint16_t>(result);
    }
    if (const Node stations = root.Get("station")) {
      const Array list = stations.AsArray();
      if (!list) {
        Fail(stations, "station must be an array of tables [[station]]");
        return std::nullopt;
      }
      for (const Node& entry : list.Items()) {
        const Table table = entry.AsTable();
        if (!table) {
          Fail(entry, "a station must be a table");
          return std::nullopt;
        }
        if (!ReadStation(table, network)) return std::nullopt;
      }
    }
    return network;
  }

  // The first problem, "file:line:column: what": every check stops the reading at its problem.
  std::string error() const {
    if (keys_.problems.empty()) return {};
    const toml_file::Problem& first = keys_.problems.front();
    return std::string(source_) + ":" + std::to_string(first.at.line) + ":" +
           std::to_string(first.at.column) + ": " + first.what;
  }

 private:
  bool Fail(const Node& node, std::string message) {
    return keys_.Refuse(node, std::move(message));
  }

  // The typed keys: an absent key leaves `out` as it was.
  bool Integer(const Table& table, std::string_view key, int64_t low, int64_t high, int64_t& out) {
    return keys_.Integer(table, key, low, high, out) != KeyReader::Outcome::kRefused;
  }
  bool Text(const Table& table, std::string_view key, std::string& out) {
    return keys_.Text(table, key, out) != KeyReader::Outcome::kRefused;
  }
  bool Boolean(const Table& table, std::string_view key, bool& out) {
    return keys_.Boolean(table, key, out) != KeyReader::Outcome::kRefused;
  }

  bool Counter(const Table& table, std::string_view key, int& out) {
    int64_t value = out;
    if (!Integer(table, key, 0, kMaxPolls, value)) return false;
    out = static_cast<int>(value);
    return true;
  }

  bool ReadStation(const Table& table, Network& network) {
    if (!keys_.Keys(table, {"name", "address", "type", "slot", "ltsap", "rtsap", "wtsap",
                            "reachable", "polls_before_established", "polls_before_response",
                            "refuse_result", "refuse_status", "drop_after_exchanges", "inputs",
                            "outputs", "flags", "db", "dx"})) {
      return false;
    }
    StationConfig config;
    std::string address;
    const Node addressNode = table.Get("address");
    if (!addressNode) return Fail(table, "a station needs an address");
    if (!Text(table, "address", address)) return false;
    const std::optional<EthernetAddress> parsed = ParseEthernetAddress(address);
    if (!parsed) return Fail(addressNode, "address must be 12 hexadecimal digits");
    config.address = *parsed;
    if (network.Find(*parsed) != nullptr) {
      return Fail(addressNode, "two stations have the address " + address);
    }

    int64_t type = 0;
    if (!table.Get("type")) return Fail(table, "a station needs a type");
    if (!Integer(table, "type", 5, 7, type)) return false;
    config.type = static_cast<StationType>(type);
    const bool s5 = config.type == StationType::kS5;
    for (std::string_view key : {"ltsap", "rtsap", "wtsap"}) {
      if (!s5 && table.Get(key)) {
        return Fail(table.Get(key), std::string(key) + " is for type 5 stations");
      }
    }
    if (s5 && table.Get("slot")) {
      return Fail(table.Get("slot"), "slot is for type 6 and 7 stations");
    }

    int64_t slot = config.slot;
    if (!Text(table, "name", config.name) || !Integer(table, "slot", 1, 255, slot) ||
        !Tsap(table, "ltsap", config.ltsap) || !Tsap(table, "rtsap", config.rtsap) ||
        !Tsap(table, "wtsap", config.wtsap)) {
      return false;
    }
    config.slot = static_cast<uint8_t>(slot);

    Behaviour& behaviour = config.behaviour;
    int64_t refuseResult = 0;
    int64_t refuseStatus = 0;
    if (!Boolean(table, "reachable", behaviour.reachable) ||
        !Counter(table, "polls_before_established", behaviour.pollsBeforeEstablished) ||
        !Counter(table, "polls_before_response", behaviour.pollsBeforeResponse) ||
        !Counter(table, "drop_after_exchanges", behaviour.dropAfterExchanges) ||
        !Integer(table, "refuse_result", 0, 0xFFFF, refuseResult) ||
        !Integer(table, "refuse_status", 0, 0xFFFF, refuseStatus)) {
      return false;
    }
    behaviour.refuseResult = static_cast<uint16_t>(refuseResult);
    behaviour.refuseStatus = static_cast<uint16_t>(refuseStatus);

    if (!ProcessAreaSize(table, "inputs", config.inputBytes) ||
        !ProcessAreaSize(table, "outputs", config.outputBytes) ||
        !ProcessAreaSize(table, "flags", config.flagBytes)) {
      return false;
    }
    if (network.stations().size() == kMaxStations) {
      return Fail(table, "more than " + std::to_string(kMaxStations) +
                             " stations: the most a simulation file may describe");
    }
    if (!Allocate(table, uint64_t{config.inputBytes} + config.outputBytes + config.flagBytes)) {
      return false;
    }
    Station& station = network.Add(std::move(config));
    return ProcessAreaValues(table, "inputs", station, Inputs()) &&
           ProcessAreaValues(table, "outputs", station, Outputs()) &&
           ProcessAreaValues(table, "flags", station, Flags()) &&
           Blocks(table, "db", station, Area::kDataBlock) &&
           Blocks(table, "dx", station, Area::kExtendedDataBlock);
  }

  bool Tsap(const Table& table, std::string_view key, std::string& out) {
    if (!Text(table, key, out)) return false;
    if (out.size() > kTsapChars) {
      return Fail(table.Get(key), std::string(key) + " has more than 8 characters");
    }
    return true;
  }

  // A process area is a size in bytes, or a table with its size and preset values.
  bool ProcessAreaSize(const Table& table, std::string_view key, uint32_t& bytes) {
    const Node node = table.Get(key);
    if (!node) return true;
    const Table area = node.AsTable();
    if (area && !keys_.Keys(area, {"size", "values"})) return false;
    int64_t size = bytes;
    if (!Integer(area ? area : table, area ? "size" : key, 0, kMaxAreaUnits, size)) {
      return false;
    }
    bytes = static_cast<uint32_t>(size);
    return true;
  }

  bool ProcessAreaValues(const Table& table, std::string_view key, Station& station, AreaRef area) {
    const Table areaTable = table.Get(key).AsTable();
    return !areaTable || Values(areaTable, station, area);
  }

  bool Blocks(const Table& table, std::string_view key, Station& station, Area kind) {
    const Node node = table.Get(key);
    if (!node) return true;
    const Array list = node.AsArray();
    if (!list) {
      return Fail(node, std::string(key) + " must be an array of tables [[station." +
                            std::string(key) + "]]");
    }
    for (const Node& entry : list.Items()) {
      const Table block = entry.AsTable();
      if (!block) return Fail(entry, "a block must be a table");
      if (!keys_.Keys(block, {"number", "size", "values"})) return false;
      if (!block.Get("number") || !block.Get("size")) {
        return Fail(block, "a block needs a number and a size");
      }
      int64_t number = 0;
      int64_t size = 0;
      if (!Integer(block, "number", 0, 0xFFFF, number) ||
          !Integer(block, "size", 0, kMaxAreaUnits, size)) {
        return false;
      }
      const AreaRef ref{kind, static_cast<uint16_t>(number)};
      if (++blocks_ > kMaxBlocks) {
        return Fail(block, "more than " + std::to_string(kMaxBlocks) +
                               " blocks: the most a simulation file may describe");
      }
      if (!Allocate(block, static_cast<uint64_t>(size) * station.UnitBytes(ref))) return false;
      if (station.Has(ref)) {
        return Fail(block, std::string(AreaName(kind)) + " " + std::to_string(number) +
                               " is described twice");
      }
      station.AddBlock(ref, static_cast<uint32_t>(size));
      if (!Values(block, station, ref)) return false;
    }
    return true;
  }

  // `values = [ { at = N, <kind> = ... }, ... ]`: presets at offset `at` in the area's unit.
  bool Values(const Table& table, Station& station, AreaRef area) {
    const Node node = table.Get("values");
    if (!node) return true;
    const Array list = node.AsArray();
    if (!list) return Fail(node, "values must be an array of tables");
    for (const Node& entry : list.Items()) {
      const Table value = entry.AsTable();
      if (!value) return Fail(entry, "a value must be a table { at = ..., ... }");
      if (!Value(value, station, area)) return false;
    }
    return true;
  }

  bool Value(const Table& table, Station& station, AreaRef area) {
    static constexpr std::string_view kKinds[] = {"byte",   "bytes", "word",   "words", "dword",
                                                  "dwords", "float", "floats", "string"};
    if (!keys_.Keys(table, {"at", "byte", "bytes", "word", "words", "dword", "dwords", "float",
                            "floats", "string"})) {
      return false;
    }
    int64_t at = -1;
    if (!Integer(table, "at", 0, kMaxAreaUnits - 1, at)) return false;
    if (at < 0) return Fail(table, "a value needs its offset: at = ...");
    std::string_view kind;
    Node data;
    for (std::string_view name : kKinds) {
      if (const Node found = table.Get(name)) {
        if (data) return Fail(found, "a value has one kind");
        kind = name;
        data = found;
      }
    }
    if (!data) return Fail(table, "a value needs a kind: byte, word, float, ...");

    const bool list = kind != "string" && kind.ends_with('s');
    std::vector<Node> items;
    if (list) {
      const Array array = data.AsArray();
      if (!array) return Fail(data, std::string(kind) + " must be an array");
      items = array.Items();
    } else {
      items.push_back(data);
    }
    const std::string_view element = list ? kind.substr(0, kind.size() - 1) : kind;
    return Put(station, area, static_cast<uint32_t>(at), element, items, table);
  }

  bool Put(Station& station, AreaRef area, uint32_t at, std::string_view element,
           const std::vector<Node>& items, const Table& where) {
    const uint32_t unit = station.UnitBytes(area);
    if (element == "string") {
      const std::optional<std::string> text = items[0].String();
      if (!text) return Fail(items[0], "string must be a string");
      return Placed(station.PutText(area, at, *text), where, area, at);
    }
    if (element == "byte") {
      std::vector<uint8_t> bytes;
      for (const Node& item : items) {
        const std::optional<int64_t> value = item.Integer();
        if (!value || *value < 0 || *value > 0xFF) {
          return Fail(item, "a byte must be an integer from 0 to 255");
        }
        bytes.push_back(static_cast<uint8_t>(*value));
      }
      return Placed(station.PutBytes(area, at, bytes), where, area, at);
    }
    const uint32_t width = element == "word" ? 2 : 4;
    for (size_t i = 0; i < items.size(); ++i) {
      const auto offset = static_cast<uint32_t>(at + i * width / unit);
      bool placed = false;
      if (element == "float") {
        const std::optional<double> value = items[i].Number();
        if (!value) return Fail(items[i], "a float must be a number");
        placed = station.PutFloat(area, offset, *value);
      } else {
        const std::optional<int64_t> value = items[i].Integer();
        const int64_t low = element == "word" ? -0x8000 : -0x8000'0000LL;
        const int64_t high = element == "word" ? 0xFFFF : 0xFFFF'FFFFLL;
        if (!value || *value < low || *value > high) {
          return Fail(items[i], "a " + std::string(element) + " must be an integer from " +
                                    std::to_string(low) + " to " + std::to_string(high));
        }
        placed = element == "word" ? station.PutWord(area, offset, static_cast<uint16_t>(*value))
                                   : station.PutDWord(area, offset, static_cast<uint32_t>(*value));
      }
      if (!Placed(placed, where, area, offset)) return false;
    }
    return true;
  }

  bool Placed(bool placed, const Table& where, AreaRef area, uint32_t at) {
    if (placed) return true;
    std::string message = "the value at " + std::to_string(at) + " does not fit ";
    message.append(AreaName(area.area));
    if (area.area == Area::kDataBlock || area.area == Area::kExtendedDataBlock) {
      message.append(" ").append(std::to_string(area.block));
    }
    return Fail(where, message);
  }

  // Counts `bytes` of station memory against what a file may ask for.
  bool Allocate(const Node& where, uint64_t bytes) {
    memoryBytes_ += bytes;
    if (memoryBytes_ <= kMaxMemoryBytes) return true;
    return Fail(where, "the stations' memory would pass " +
                           std::to_string(kMaxMemoryBytes / (1024 * 1024)) +
                           " MiB: the most a simulation file may ask for");
  }

  std::string_view source_;
  KeyReader keys_;
  size_t blocks_ = 0;
  uint64_t memoryBytes_ = 0;
};

}  // namespace

LoadedNetwork ParseNetwork(std::string_view text, std::string_view source) {
  toml_file::Parsed parsed = toml_file::Parse(text);
  if (!parsed.document) {
    const toml_file::ParseProblem& problem = parsed.problem;
    const std::string at = std::string(source) + ":" + std::to_string(problem.at.line) + ":" +
                           std::to_string(problem.at.column) + ": ";
    switch (problem.kind) {
      case toml_file::ParseProblem::Kind::kNotText: {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", problem.byte);
        return {std::nullopt, at + "byte " + hex +
                                  " is not ASCII text (a string takes other characters as \\u "
                                  "escapes)"};
      }
      case toml_file::ParseProblem::Kind::kSyntax:
        return {std::nullopt, at + problem.description};
      case toml_file::ParseProblem::Kind::kParserCheck:
        break;
    }
    return {std::nullopt, std::string(source) +
                              ": not TOML: the parser cannot go on (its check failed: " +
                              problem.description + ")"};
  }
  Reader reader(source);
  std::optional<Network> network = reader.Read(parsed.document->root());
  return {std::move(network), reader.error()};
}

LoadedNetwork LoadNetworkFile(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return {std::nullopt, path + ": is a folder"};
  std::ifstream file(path, std::ios::binary);
  if (!file) return {std::nullopt, path + ": cannot be opened"};
  std::string text;
  char chunk[4096];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    text.append(chunk, static_cast<size_t>(file.gcount()));
    if (text.size() > kMaxFileBytes) {
      return {std::nullopt, path + ": longer than " + std::to_string(kMaxFileBytes >> 20) +
                                " MiB, not a simulation file"};
    }
  }
  if (file.bad()) return {std::nullopt, path + ": cannot be read"};
  return ParseNetwork(text, path);
}

Network DefaultNetwork() {
  LoadedNetwork loaded = ParseNetwork(DefaultNetworkText(), "examples/tavSH101.toml");
  return loaded.network ? std::move(*loaded.network) : Network();
}

}  // namespace tav::sim
