#include "sim/network_file.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

namespace tav::sim {
namespace {

// A consistency check of the TOML parser that failed (see below).
struct BrokenParserCheck : std::logic_error {
  using std::logic_error::logic_error;
};

[[noreturn]] void FailParserCheck(const char* check) {
  throw BrokenParserCheck(check);
}

}  // namespace
}  // namespace tav::sim

// toml++ states its parser's assumptions with TOML_ASSERT. Some texts that are not TOML break them
// (in 3.3.0, "[#" and "a=[}" among others): with the checks on, the parser aborts the process;
// with NDEBUG they turn into assumptions the compiler relies on, and parsing runs on into
// undefined behaviour. Here the checks stay on in every build and throw, so that a text that
// breaks one ends the parse with an error like any other, which ParseNetwork catches. The parser
// reports its own errors by throwing too. Only this file includes toml++, so no other
// translation unit compiles it with other settings.
#undef NDEBUG
#define TOML_ASSERT(expr) ((expr) ? static_cast<void>(0) : ::tav::sim::FailParserCheck(#expr))
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 1
#include <toml++/toml.h>

namespace tav::sim {

namespace {

// The simulation file is ASCII text: tabs, line ends and the printable characters. Other
// characters reach tables in toml++ 3.3.0 that are undefined for part of Unicode (CD BA, the
// letter U+037A, outside a string is enough), so they are refused before parsing; a string
// takes any character as a \u escape. A UTF-8 byte order mark at the start is let through.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsTextByte(unsigned char c) {
  return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c < 0x7F);
}

// Where the first byte outside ASCII text lies and what it is; nothing when there is none.
std::optional<std::string> CheckText(std::string_view text, std::string_view source) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  size_t line = 1;
  size_t column = 1;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (!IsTextByte(byte)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", byte);
      return std::string(source) + ":" + std::to_string(line) + ":" + std::to_string(column) +
             ": byte " + hex +
             " is not ASCII text (a string takes other characters as \\u "
             "escapes)";
    }
    if (byte == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return std::nullopt;
}

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

  std::optional<Network> Read(const toml::table& root) {
    Network network;
    if (!Keys(root, {"network", "station"})) return std::nullopt;
    if (const toml::node* settings = root.get("network")) {
      const toml::table* table = settings->as_table();
      if (table == nullptr) {
        Fail(*settings, "[network] must be a table");
        return std::nullopt;
      }
      int64_t result = 0;
      if (!Keys(*table, {"open_driver_result"}) ||
          !Integer(*table, "open_driver_result", 0, 0xFFFF, result)) {
        return std::nullopt;
      }
      network.settings.openDriverResult = static_cast<uint16_t>(result);
    }
    if (const toml::node* stations = root.get("station")) {
      const toml::array* list = stations->as_array();
      if (list == nullptr) {
        Fail(*stations, "station must be an array of tables [[station]]");
        return std::nullopt;
      }
      for (const toml::node& entry : *list) {
        const toml::table* table = entry.as_table();
        if (table == nullptr) {
          Fail(entry, "a station must be a table");
          return std::nullopt;
        }
        if (!ReadStation(*table, network)) return std::nullopt;
      }
    }
    return network;
  }

  const std::string& error() const { return error_; }

 private:
  // Records the first error, placed at `node`; returns false for the caller to pass on.
  bool Fail(const toml::node& node, std::string_view message) {
    const toml::source_position& at = node.source().begin;
    error_ = std::string(source_) + ":" + std::to_string(at.line) + ":" +
             std::to_string(at.column) + ": " + std::string(message);
    return false;
  }

  // Every key of `table` is one of `known`: a misspelt key is an error, not silently ignored.
  bool Keys(const toml::table& table, std::initializer_list<std::string_view> known) {
    for (const auto& [key, value] : table) {
      bool found = false;
      for (std::string_view name : known) found = found || key.str() == name;
      if (!found) return Fail(value, "unknown key '" + std::string(key.str()) + "'");
    }
    return true;
  }

  // An optional integer in [low, high]; `out` keeps its value when the key is absent.
  bool Integer(const toml::table& table, std::string_view key, int64_t low, int64_t high,
               int64_t& out) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return true;
    const std::optional<int64_t> value = node->value_exact<int64_t>();
    if (!value || *value < low || *value > high) {
      return Fail(*node, std::string(key) + " must be an integer from " + std::to_string(low) +
                             " to " + std::to_string(high));
    }
    out = *value;
    return true;
  }

  bool Text(const toml::table& table, std::string_view key, std::string& out) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return true;
    const std::optional<std::string> value = node->value_exact<std::string>();
    if (!value) return Fail(*node, std::string(key) + " must be a string");
    out = *value;
    return true;
  }

  bool Boolean(const toml::table& table, std::string_view key, bool& out) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return true;
    const std::optional<bool> value = node->value_exact<bool>();
    if (!value) return Fail(*node, std::string(key) + " must be true or false");
    out = *value;
    return true;
  }

  bool Counter(const toml::table& table, std::string_view key, int& out) {
    int64_t value = out;
    if (!Integer(table, key, 0, kMaxPolls, value)) return false;
    out = static_cast<int>(value);
    return true;
  }

  bool ReadStation(const toml::table& table, Network& network) {
    if (!Keys(table, {"name", "address", "type", "slot", "ltsap", "rtsap", "wtsap", "reachable",
                      "polls_before_established", "polls_before_response", "refuse_result",
                      "refuse_status", "drop_after_exchanges", "inputs", "outputs", "flags", "db",
                      "dx"})) {
      return false;
    }
    StationConfig config;
    std::string address;
    const toml::node* addressNode = table.get("address");
    if (addressNode == nullptr) return Fail(table, "a station needs an address");
    if (!Text(table, "address", address)) return false;
    const std::optional<EthernetAddress> parsed = ParseEthernetAddress(address);
    if (!parsed) return Fail(*addressNode, "address must be 12 hexadecimal digits");
    config.address = *parsed;
    if (network.Find(*parsed) != nullptr) {
      return Fail(*addressNode, "two stations have the address " + address);
    }

    int64_t type = 0;
    if (table.get("type") == nullptr) return Fail(table, "a station needs a type");
    if (!Integer(table, "type", 5, 7, type)) return false;
    config.type = static_cast<StationType>(type);
    const bool s5 = config.type == StationType::kS5;
    for (std::string_view key : {"ltsap", "rtsap", "wtsap"}) {
      if (!s5 && table.get(key) != nullptr) {
        return Fail(*table.get(key), std::string(key) + " is for type 5 stations");
      }
    }
    if (s5 && table.get("slot") != nullptr) {
      return Fail(*table.get("slot"), "slot is for type 6 and 7 stations");
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

  bool Tsap(const toml::table& table, std::string_view key, std::string& out) {
    if (!Text(table, key, out)) return false;
    if (out.size() > kTsapChars) {
      return Fail(*table.get(key), std::string(key) + " has more than 8 characters");
    }
    return true;
  }

  // A process area is a size in bytes, or a table with its size and preset values.
  bool ProcessAreaSize(const toml::table& table, std::string_view key, uint32_t& bytes) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return true;
    const toml::table* area = node->as_table();
    if (area != nullptr && !Keys(*area, {"size", "values"})) return false;
    int64_t size = bytes;
    if (!Integer(area != nullptr ? *area : table, area != nullptr ? "size" : key, 0, kMaxAreaUnits,
                 size)) {
      return false;
    }
    bytes = static_cast<uint32_t>(size);
    return true;
  }

  bool ProcessAreaValues(const toml::table& table, std::string_view key, Station& station,
                         AreaRef area) {
    const toml::node* node = table.get(key);
    const toml::table* areaTable = node == nullptr ? nullptr : node->as_table();
    return areaTable == nullptr || Values(*areaTable, station, area);
  }

  bool Blocks(const toml::table& table, std::string_view key, Station& station, Area kind) {
    const toml::node* node = table.get(key);
    if (node == nullptr) return true;
    const toml::array* list = node->as_array();
    if (list == nullptr) {
      return Fail(*node, std::string(key) + " must be an array of tables [[station." +
                             std::string(key) + "]]");
    }
    for (const toml::node& entry : *list) {
      const toml::table* block = entry.as_table();
      if (block == nullptr) return Fail(entry, "a block must be a table");
      if (!Keys(*block, {"number", "size", "values"})) return false;
      if (block->get("number") == nullptr || block->get("size") == nullptr) {
        return Fail(*block, "a block needs a number and a size");
      }
      int64_t number = 0;
      int64_t size = 0;
      if (!Integer(*block, "number", 0, 0xFFFF, number) ||
          !Integer(*block, "size", 0, kMaxAreaUnits, size)) {
        return false;
      }
      const AreaRef ref{kind, static_cast<uint16_t>(number)};
      if (++blocks_ > kMaxBlocks) {
        return Fail(*block, "more than " + std::to_string(kMaxBlocks) +
                                " blocks: the most a simulation file may describe");
      }
      if (!Allocate(*block, static_cast<uint64_t>(size) * station.UnitBytes(ref))) return false;
      if (station.Has(ref)) {
        return Fail(*block, std::string(AreaName(kind)) + " " + std::to_string(number) +
                                " is described twice");
      }
      station.AddBlock(ref, static_cast<uint32_t>(size));
      if (!Values(*block, station, ref)) return false;
    }
    return true;
  }

  // `values = [ { at = N, <kind> = ... }, ... ]`: presets at offset `at` in the area's unit.
  bool Values(const toml::table& table, Station& station, AreaRef area) {
    const toml::node* node = table.get("values");
    if (node == nullptr) return true;
    const toml::array* list = node->as_array();
    if (list == nullptr) return Fail(*node, "values must be an array of tables");
    for (const toml::node& entry : *list) {
      const toml::table* value = entry.as_table();
      if (value == nullptr) return Fail(entry, "a value must be a table { at = ..., ... }");
      if (!Value(*value, station, area)) return false;
    }
    return true;
  }

  bool Value(const toml::table& table, Station& station, AreaRef area) {
    static constexpr std::string_view kKinds[] = {"byte",   "bytes", "word",   "words", "dword",
                                                  "dwords", "float", "floats", "string"};
    if (!Keys(table, {"at", "byte", "bytes", "word", "words", "dword", "dwords", "float", "floats",
                      "string"})) {
      return false;
    }
    int64_t at = -1;
    if (!Integer(table, "at", 0, kMaxAreaUnits - 1, at)) return false;
    if (at < 0) return Fail(table, "a value needs its offset: at = ...");
    std::string_view kind;
    const toml::node* data = nullptr;
    for (std::string_view name : kKinds) {
      if (const toml::node* found = table.get(name)) {
        if (data != nullptr) return Fail(*found, "a value has one kind");
        kind = name;
        data = found;
      }
    }
    if (data == nullptr) return Fail(table, "a value needs a kind: byte, word, float, ...");

    const bool list = kind != "string" && kind.ends_with('s');
    std::vector<const toml::node*> items;
    if (list) {
      const toml::array* array = data->as_array();
      if (array == nullptr) return Fail(*data, std::string(kind) + " must be an array");
      for (const toml::node& item : *array) items.push_back(&item);
    } else {
      items.push_back(data);
    }
    const std::string_view element = list ? kind.substr(0, kind.size() - 1) : kind;
    return Put(station, area, static_cast<uint32_t>(at), element, items, table);
  }

  bool Put(Station& station, AreaRef area, uint32_t at, std::string_view element,
           const std::vector<const toml::node*>& items, const toml::table& where) {
    const uint32_t unit = station.UnitBytes(area);
    if (element == "string") {
      const std::optional<std::string> text = items[0]->value_exact<std::string>();
      if (!text) return Fail(*items[0], "string must be a string");
      return Placed(station.PutText(area, at, *text), where, area, at);
    }
    if (element == "byte") {
      std::vector<uint8_t> bytes;
      for (const toml::node* item : items) {
        const std::optional<int64_t> value = item->value_exact<int64_t>();
        if (!value || *value < 0 || *value > 0xFF) {
          return Fail(*item, "a byte must be an integer from 0 to 255");
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
        const std::optional<double> value = items[i]->value<double>();
        if (!value) return Fail(*items[i], "a float must be a number");
        placed = station.PutFloat(area, offset, *value);
      } else {
        const std::optional<int64_t> value = items[i]->value_exact<int64_t>();
        const int64_t low = element == "word" ? -0x8000 : -0x8000'0000LL;
        const int64_t high = element == "word" ? 0xFFFF : 0xFFFF'FFFFLL;
        if (!value || *value < low || *value > high) {
          return Fail(*items[i], "a " + std::string(element) + " must be an integer from " +
                                     std::to_string(low) + " to " + std::to_string(high));
        }
        placed = element == "word" ? station.PutWord(area, offset, static_cast<uint16_t>(*value))
                                   : station.PutDWord(area, offset, static_cast<uint32_t>(*value));
      }
      if (!Placed(placed, where, area, offset)) return false;
    }
    return true;
  }

  bool Placed(bool placed, const toml::table& where, AreaRef area, uint32_t at) {
    if (placed) return true;
    std::string message = "the value at " + std::to_string(at) + " does not fit ";
    message.append(AreaName(area.area));
    if (area.area == Area::kDataBlock || area.area == Area::kExtendedDataBlock) {
      message.append(" ").append(std::to_string(area.block));
    }
    return Fail(where, message);
  }

  // Counts `bytes` of station memory against what a file may ask for.
  bool Allocate(const toml::node& where, uint64_t bytes) {
    memoryBytes_ += bytes;
    if (memoryBytes_ <= kMaxMemoryBytes) return true;
    return Fail(where, "the stations' memory would pass " +
                           std::to_string(kMaxMemoryBytes / (1024 * 1024)) +
                           " MiB: the most a simulation file may ask for");
  }

  std::string_view source_;
  std::string error_;
  size_t blocks_ = 0;
  uint64_t memoryBytes_ = 0;
};

}  // namespace

LoadedNetwork ParseNetwork(std::string_view text, std::string_view source) {
  if (std::optional<std::string> notText = CheckText(text, source)) {
    return {std::nullopt, std::move(*notText)};
  }
  toml::table root;
  try {
    root = toml::parse(text, source);
  } catch (const toml::parse_error& error) {
    return {std::nullopt, std::string(source) + ":" + std::to_string(error.source().begin.line) +
                              ":" + std::to_string(error.source().begin.column) + ": " +
                              std::string(error.description())};
  } catch (const BrokenParserCheck& check) {
    return {std::nullopt,
            std::string(source) +
                ": not TOML: the parser cannot go on (its check failed: " + check.what() + ")"};
  }
  Reader reader(source);
  std::optional<Network> network = reader.Read(root);
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
