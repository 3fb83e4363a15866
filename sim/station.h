// A simulated PLC station: its place on the network (Ethernet address, type, slot or TSAPs), its
// behaviour, its faults, and its memory held as the PLC holds it. S7 stations address their
// data blocks by byte and keep multi-byte values big-endian; S5 stations (and type 6) address
// their data blocks by 16-bit word, a 32-bit value in two words, high word first. Inputs,
// outputs and flags are byte-addressed on every station.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/h1_records.h"
#include "sim/api.h"
#include "sim/fault.h"

namespace tav::sim {


// Exactly 12 hexadecimal digits, as the station file writes an address.
TAV_SIM_API std::optional<EthernetAddress> ParseEthernetAddress(std::string_view text);
// 12 upper-case hexadecimal digits.
TAV_SIM_API std::string FormatEthernetAddress(const EthernetAddress& address);

// Station types, numbered as the station file numbers them.
enum class StationType : uint8_t {
  kS5 = 5,     // reached over TSAP pairs; data blocks of 16-bit words
  kType6 = 6,  // reached like an S7 station (remote TSAP 0x03, slot); data blocks of 16-bit words
  kS7 = 7,     // reached by CPU slot; byte-addressed data blocks
};

// How a station behaves on the network. Tests may change it at any time.
struct Behaviour {
  bool reachable = true;           // false: connects never come up, as with a station switched off
  int pollsBeforeEstablished = 0;  // connection-state polls answering "being set up" after an open
  int pollsBeforeResponse = 0;     // receive polls answering "no data yet" before each response
  uint16_t refuseResult = 0;       // non-zero: every open answers this result
  uint16_t refuseStatus = 0;       // non-zero: every open answers this status word, no connection
  int dropAfterExchanges = 0;      // > 0: a connection breaks after this many answered exchanges
};

inline constexpr uint32_t kDefaultProcessAreaBytes = 256;
inline constexpr uint32_t kMaxAreaUnits = 65'536;  // a request's start and length are 16 bits

struct StationConfig {
  std::string name;  // shown by the tools only
  EthernetAddress address{};
  StationType type = StationType::kS7;
  uint8_t slot = 2;  // types 6 and 7: the second byte of the remote TSAP
  // Type 5: the TSAPs as the driver's connect record names them. A connection is accepted with
  // local TSAP `ltsap` and remote TSAP `rtsap` (the read connection) or `wtsap` (the write
  // connection). Trailing blanks and NULs are padding.
  std::string ltsap = "KORVAL";
  std::string rtsap = "KORREAD";
  std::string wtsap = "KORWRITE";
  Behaviour behaviour;
  uint32_t inputBytes = kDefaultProcessAreaBytes;
  uint32_t outputBytes = kDefaultProcessAreaBytes;
  uint32_t flagBytes = kDefaultProcessAreaBytes;
};

// Configurations for tests; an address that is not 12 hexadecimal digits gives 000000000000.
TAV_SIM_API StationConfig S7Station(std::string_view address, uint8_t slot = 2);
TAV_SIM_API StationConfig S5Station(std::string_view address);
TAV_SIM_API StationConfig Type6Station(std::string_view address, uint8_t slot = 2);

enum class Area : uint8_t { kDataBlock, kExtendedDataBlock, kInputs, kOutputs, kFlags };

// One memory area of a station: a (extended) data block by number, or a process area.
struct AreaRef {
  Area area;
  uint16_t block = 0;
};
constexpr AreaRef DataBlock(uint16_t number) {
  return {Area::kDataBlock, number};
}
constexpr AreaRef ExtendedDataBlock(uint16_t number) {
  return {Area::kExtendedDataBlock, number};
}
constexpr AreaRef Inputs() {
  return {Area::kInputs};
}
constexpr AreaRef Outputs() {
  return {Area::kOutputs};
}
constexpr AreaRef Flags() {
  return {Area::kFlags};
}

// The area a request's area kind names; none for an unknown kind.
TAV_SIM_API std::optional<Area> AreaOfKind(uint16_t areaKind);
TAV_SIM_API const char* AreaName(Area area);

class TAV_SIM_API Station {
 public:
  explicit Station(StationConfig config);

  const StationConfig& config() const { return config_; }
  Behaviour& behaviour() { return config_.behaviour; }
  const Behaviour& behaviour() const { return config_.behaviour; }
  StationType type() const { return config_.type; }
  // Types 5 and 6 hold their floats as S5 floats.
  bool holdsS5Floats() const { return config_.type != StationType::kS7; }

  // Adds (or replaces, zero-filled) a data block or extended data block of `units` units: bytes
  // on S7 stations, 16-bit words on the others. False for a process area or more than 65,536
  // units.
  bool AddBlock(AreaRef block, uint32_t units);
  bool Has(AreaRef area) const { return Image(area) != nullptr; }
  // The area's size in its own unit; 0 when the station has no such area.
  uint32_t Units(AreaRef area) const;
  // 2 for the data blocks of word-addressed stations, 1 for every other area.
  uint32_t UnitBytes(AreaRef area) const;

  // Values at `at`, counted in the area's unit, as the PLC holds them: bytes in PLC order (an S5
  // word's high byte first), words and double words big-endian, floats as IEEE singles on S7
  // stations and S5 floats on the others, texts as bytes. Reads outside the area give nothing;
  // writes outside it give false and change nothing.
  std::optional<std::vector<uint8_t>> Bytes(AreaRef area, uint32_t at, size_t count) const;
  std::optional<uint16_t> Word(AreaRef area, uint32_t at) const;
  std::optional<uint32_t> DWord(AreaRef area, uint32_t at) const;
  std::optional<double> Float(AreaRef area, uint32_t at) const;
  std::optional<std::string> Text(AreaRef area, uint32_t at, size_t length) const;
  bool PutBytes(AreaRef area, uint32_t at, std::span<const uint8_t> bytes);
  bool PutWord(AreaRef area, uint32_t at, uint16_t value);
  bool PutDWord(AreaRef area, uint32_t at, uint32_t value);
  bool PutFloat(AreaRef area, uint32_t at, double value);
  bool PutText(AreaRef area, uint32_t at, std::string_view text);

  // The station's side of an exchange. The transfer buffer carries what a fetch/write request
  // names: bytes in PLC order, except the data blocks of word-addressed stations, whose words
  // travel in host order (least significant byte first).
  // Bytes of the transfer buffer that `request` fills or takes (its unknown area kinds count
  // bytes).
  size_t TransferBytes(const RequestRecord& request) const;
  // Answers a read: fills the start of `buffer`; returns the status word (h1::kStatus...).
  uint16_t Fetch(const RequestRecord& request, std::span<uint8_t> buffer) const;
  // Answers a write from `data`, which holds TransferBytes(request) bytes; returns the status
  // word. Nothing is stored unless the whole range lies inside the area.
  uint16_t Store(const RequestRecord& request, std::span<const uint8_t> data);

  // Faults waiting on the operations that reach this station.
  Station& Inject(Operation operation, const Fault& fault);
  FaultQueue& faults() { return faults_; }

 private:
  using BlockKey = std::pair<Area, uint16_t>;
  bool WordAddressed(Area area) const;
  const std::vector<uint8_t>* Image(AreaRef area) const;
  std::vector<uint8_t>* Image(AreaRef area);
  // The bytes [at x unit, +count) of the area, or nullptr when they leave it.
  const uint8_t* Span(AreaRef area, uint32_t at, size_t count) const;
  uint8_t* Span(AreaRef area, uint32_t at, size_t count);
  // Checks a request against the area it names; h1::kStatusGood when the range lies inside.
  uint16_t Check(const RequestRecord& request) const;

  StationConfig config_;
  std::map<BlockKey, std::vector<uint8_t>> blocks_;
  std::vector<uint8_t> inputs_;
  std::vector<uint8_t> outputs_;
  std::vector<uint8_t> flags_;
  FaultQueue faults_;
};

}  // namespace tav::sim
