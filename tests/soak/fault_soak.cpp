// The fault soak: three driver instances on one simulated H1 network, driven by a fixed-seed mix
// of commands 1 to 15 (and codes without a command) while faults are injected at random: refused
// connects, dropped connections, busy, lost and aborted requests, slow and missing answers, wrong
// status words, stations switched off and on. After every request it checks that
//  - the result is one the command allows (a TransferBlock beyond a limit: 1, nothing sent);
//  - the driver made no heap allocation (what the simulated network and this host do inside the
//    H1 operations and the log is not counted);
//  - a host array changed only on success, and only as the command may change it;
//  - what was written and acknowledged reads back the same (a model of every tag; a failed write
//    makes its elements unknown until they are read);
//  - the log holds only the driver's documented messages, at their levels;
//  - a transfer polled, re-sent and slept no more than its retry budget allows.
// Re-initialisations follow the README's advice: command 11 first, which ends the connections of
// every instance, so each instance is initialised again before its next transfer.
//
// Usage: fault_soak [REQUESTS [SEED]]; TAV_SOAK_REQUESTS and TAV_SOAK_SEED stand in for missing
// arguments (defaults 100,000 and 11). The first violation ends the run with its request number,
// so a run can be repeated to that request with the same seed.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "abi/address_block.h"
#include "abi/area_type.h"
#include "abi/driver_instance.h"
#include "abi/port_parameters.h"
#include "abi/records.h"
#include "abi/transfer_block.h"
#include "driver/tav_main.h"
#include "platform/h1_library.h"
#include "platform/host_log.h"
#include "platform/sleep.h"
#include "sim/network.h"
#include "support/allocation_counter.h"
#include "support/h1_shims.h"

namespace tav::soak {
namespace {

// ---------------------------------------------------------------------------------------------
// The seams: the H1 operations go to the simulated network, counted; the log is kept; sleeping
// advances a clock of its own.

struct Calls {
  uint64_t sendReads = 0;
  uint64_t receiveReads = 0;
  uint64_t sendWrites = 0;
  uint64_t acknowledgements = 0;
  uint64_t others = 0;
  uint64_t sleptMilliseconds = 0;
  uint64_t exchanges() const { return sendReads + receiveReads + sendWrites + acknowledgements; }
};
Calls calls;

struct LogLine {
  int32_t level;
  std::string format;
};
std::vector<LogLine> logLines;

}  // namespace
}  // namespace tav::soak

namespace tav {

void SleepMilliseconds(uint32_t milliseconds) {
  soak::calls.sleptMilliseconds += milliseconds;
}

}  // namespace tav

using tav::sim::ActiveNetwork;
using tav::soak::calls;

extern "C" void err(int32_t level, const char* format, ...) {
  const tav::testing::NotCounted outside;  // the network's and the host's allocations
  tav::soak::logLines.push_back({level, format});
}

namespace tav::soak {
namespace {

// The H1 operations: counted, then on to the simulated network, outside the allocation count.
uint16_t TAV_H1_CALL OpenDriver(void) {
  const testing::NotCounted outside;
  ++calls.others;
  return ActiveNetwork().OpenDriver();
}
uint16_t TAV_H1_CALL CloseDriver(void) {
  const testing::NotCounted outside;
  ++calls.others;
  return ActiveNetwork().CloseDriver();
}
uint16_t TAV_H1_CALL OpenS5Connection(void* connectRecord) {
  const testing::NotCounted outside;
  ++calls.others;
  return ActiveNetwork().OpenS5Connection(connectRecord);
}
uint16_t TAV_H1_CALL OpenS7Connection(void* connectRecord, uint32_t) {
  const testing::NotCounted outside;
  ++calls.others;
  return ActiveNetwork().OpenS7Connection(connectRecord);
}
uint16_t TAV_H1_CALL ConnectionState(uint32_t connection) {
  const testing::NotCounted outside;
  ++calls.others;
  return ActiveNetwork().ConnectionStateOf(connection);
}
uint16_t TAV_H1_CALL RestartConnection(uint32_t connection) {
  const testing::NotCounted outside;
  ++calls.others;
  return ActiveNetwork().RestartConnection(connection);
}
uint16_t TAV_H1_CALL ReleaseConnection(uint32_t connection) {
  const testing::NotCounted outside;
  ++calls.others;
  return ActiveNetwork().ReleaseConnection(connection);
}
uint16_t TAV_H1_CALL SendReadRequest(void* requestRecord) {
  const testing::NotCounted outside;
  ++calls.sendReads;
  return ActiveNetwork().SendReadRequest(requestRecord);
}
uint16_t TAV_H1_CALL ReceiveReadData(uint32_t bufferSize, void* buffer, uint16_t* statusWord,
                                     uint32_t connection) {
  const testing::NotCounted outside;
  ++calls.receiveReads;
  return ActiveNetwork().ReceiveReadData(bufferSize, buffer, statusWord, connection);
}
uint16_t TAV_H1_CALL SendWriteRequest(void* requestRecord, void* buffer) {
  const testing::NotCounted outside;
  ++calls.sendWrites;
  return ActiveNetwork().SendWriteRequest(requestRecord, buffer);
}
uint16_t TAV_H1_CALL ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t connection) {
  const testing::NotCounted outside;
  ++calls.acknowledgements;
  return ActiveNetwork().ReceiveWriteAcknowledge(statusWord, connection);
}

constexpr H1Operations kSimulatedNetwork = {.openDriver = OpenDriver,
                                            .closeDriver = CloseDriver,
                                            .openS5 = OpenS5Connection,
                                            .openS7 = OpenS7Connection,
                                            .state = ConnectionState,
                                            .restart = RestartConnection,
                                            .release = ReleaseConnection,
                                            .sendRead = SendReadRequest,
                                            .receiveRead = ReceiveReadData,
                                            .sendWrite = SendWriteRequest,
                                            .receiveWrite = ReceiveWriteAcknowledge};

}  // namespace
}  // namespace tav::soak

namespace tav::soak {
namespace {

using sim::Operation;

// ---------------------------------------------------------------------------------------------
// The documented messages, and the results each command allows.

const std::set<std::string> kMessages = {
    "TavSH1 : File %s not found !",
    "TavSH1: File %s exceeds %d bytes, reading stopped",
    "TavSH1: Illegal input line %s",
    "TavSH1: Illegal PlcType at line %s",
    "TavSH1: Illegal Slot # %s",
    "TavSH1: =========================================",
    "TavSH1: PLC # %d Type     = %d",
    "TavSH1: PLC # %d EA Addr  = %s",
    "TavSH1: PLC # %d LTSAP    = <%s>",
    "TavSH1: PLC # %d RTSAP    = <%s>",
    "TavSH1: PLC # %d WTSAP    = <%s>",
    "TavSH1: PLC # %d Slot     = %x",
    "TavSH1: Fail to open H1 Driver (%d)",
    "TavSH1: Fail to close driver !",
    "TavSH1: Strat Connection Failed Plc #%d (%d,%d)",
    "TavSH1: Connection FAIL, Plc #%d !!! ",
    "TavSH1: Connection Success, Plc #%d !!! ",
    "TavSH1: Strat Read Connection Failed Plc #%d (%d,%d)",
    "TavSH1: Read Connection FAIL, Plc #%d !!! ",
    "TavSH1: Read Connection Success, Plc #%d !!! ",
    "TavSH1: Strat Write Connection Failed Plc #%d (%d,%d)",
    "TavSH1: Write Connection FAIL, Plc #%d !!! ",
    "TavSH1: Write Connection Success, Plc #%d !!! ",
    "TavSH1: Reconnect Read Success, Plc #%d !!! ",
    "TavSH1: Reconnect Write Success, Plc #%d !!! ",
    "TavSH1: Read Tag %s Failed, rc=%d,%d",
    "TavSH1: Write Tag %s Failed, rc=%d,%d",
    "TavSH1: Read Tag %s Refused, %s",
    "TavSH1: Write Tag %s Refused, %s",
};
constexpr std::string_view kVersionLinePrefix =
    "TavSH1: Siemens Ethernet driver,Version 8.20 compiled on ";
constexpr std::string_view kBlockTypeMessage = "TavSH1: S7 PLC does not support Block type X";

bool Allowed(int32_t command, int32_t result) {
  switch (command) {
    case 1:
    case 12:
    case 13:
    case 15:
      return result == 0 || result == 2;
    case 2:
    case 3:
    case 4:
      return result == 0 || result == 1;
    case 5:
    case 6:
    case 7:
    case 10:
      return result >= 0 && result <= 2;
    case 11:
    case 14:
      return result == 0;
    default:
      return result == 1;
  }
}

// ---------------------------------------------------------------------------------------------
// The network, the instances and their tags.

// How a tag's elements look to the host and what the model keeps of them.
enum class Kind : uint8_t { kByte, kWord, kDoubleWord, kFloat, kString, kBit };

struct TagTemplate {
  const char* address;  // without the station number
  int32_t hostType;
  Kind kind;
  int maxCount;  // elements a block transfer may move; the region reserved for the tag
};

// Disjoint regions per station type, so that the model of one tag never depends on another.
const TagTemplate kS7Tags[] = {
    {"DW0010000", 0, Kind::kWord, 8},       {"DB0010020", 0, Kind::kByte, 8},
    {"DD0010032", 4, Kind::kDoubleWord, 4}, {"DF0010048", 3, Kind::kFloat, 4},
    {"DW0010065", 0, Kind::kWord, 4},       {"DD0010074", 4, Kind::kDoubleWord, 2},
    {"SB0010090 9", 7, Kind::kString, 1},   {"DW001010003", 6, Kind::kBit, 1},
    {"DB001010207", 6, Kind::kBit, 1},      {"MB0010", 0, Kind::kByte, 8},
    {"MW0020", 0, Kind::kWord, 4},          {"QB0040", 0, Kind::kByte, 8},
    {"MB003003", 6, Kind::kBit, 1},         {"DW0020000", 0, Kind::kWord, 100},
};
const TagTemplate kS5Tags[] = {
    {"DW0010000", 0, Kind::kWord, 8},     {"DD0010010", 4, Kind::kDoubleWord, 4},
    {"DF0010020", 3, Kind::kFloat, 4},    {"DD0010031", 4, Kind::kDoubleWord, 2},
    {"SB0010040 9", 7, Kind::kString, 1}, {"DW001005012", 6, Kind::kBit, 1},
    {"XW0010000", 0, Kind::kWord, 8},     {"MB0010", 0, Kind::kByte, 8},
    {"MW0020", 0, Kind::kWord, 4},        {"MB003003", 6, Kind::kBit, 1},
    {"DW0020000", 0, Kind::kWord, 100},
};
const TagTemplate kType6Tags[] = {
    {"DW0010000", 0, Kind::kWord, 8},   {"DD0010010", 4, Kind::kDoubleWord, 4},
    {"DF0010020", 3, Kind::kFloat, 4},  {"SB0010040 9", 7, Kind::kString, 1},
    {"DB0010060", 0, Kind::kByte, 8},   {"DB001007005", 6, Kind::kBit, 1},
    {"DW001008015", 6, Kind::kBit, 1},  {"MW0020", 0, Kind::kWord, 4},
    {"DW0020000", 0, Kind::kWord, 100},
};

struct SimStation {
  const char* address;
  sim::StationConfig config;
};

// One tag as an instance's host knows it: the parse result and where the model keeps it.
struct Tag {
  std::string name;
  const TagTemplate* form;
  int simStation;
  AddressBlock parsed;
};

struct Instance {
  int32_t driverNumber;
  std::string stationFile;
  std::vector<std::pair<int, int>> stations;  // station number, simulated station
  std::unique_ptr<DriverInstance> block = std::make_unique<DriverInstance>();
  std::vector<Tag> tags;
  bool open = false;
  bool parsed = false;
};

// What is known of every tag's elements at its station: one value per element (a string's
// characters as one value), or nothing when a failed write may or may not have changed it.
using ElementValue = std::optional<std::vector<uint8_t>>;
std::map<std::pair<int, const TagTemplate*>, std::vector<ElementValue>> model;

struct Statistics {
  std::map<int32_t, std::array<uint64_t, 3>> results;  // per command: results 0, 1, 2
  uint64_t faults = 0;
  uint64_t switches = 0;
  uint64_t drops = 0;
  uint64_t readBacks = 0;
  uint64_t refusals = 0;
  uint64_t logLines = 0;
};
Statistics statistics;

uint64_t requestNumber = 0;
uint64_t runSeed = 0;

[[noreturn]] void Violation(const std::string& what) {
  std::fprintf(stderr, "fault soak: request %llu (seed %llu): %s\n",
               static_cast<unsigned long long>(requestNumber),
               static_cast<unsigned long long>(runSeed), what.c_str());
  std::exit(1);
}

void Require(bool condition, const std::string& what) {
  if (!condition) Violation(what);
}

class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }
  uint32_t Bits() { return static_cast<uint32_t>(engine_()); }
  bool Chance(int percent) { return Int(0, 99) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[static_cast<size_t>(Int(0, static_cast<int>(items.size()) - 1))];
  }

 private:
  std::mt19937_64 engine_;
};

// Runs one request through TavMain with the checks every request gets.
int32_t Run(DriverInstance* instance, int32_t command, void* parameters, int32_t driverNumber = 0) {
  ++requestNumber;
  logLines.clear();
  Request request{instance, command, driverNumber, 0, parameters};
  testing::StartCountingAllocations();
  const int32_t result = TavMain(&request);
  const uint64_t driverAllocations = testing::StopCountingAllocations();

  Require(Allowed(command, result),
          "command " + std::to_string(command) + " returned " + std::to_string(result));
  Require(driverAllocations == 0, "command " + std::to_string(command) + " allocated memory");
  for (const LogLine& line : logLines) {
    const bool version = line.format.starts_with(kVersionLinePrefix);
    const bool blockType = line.format == kBlockTypeMessage;
    Require(version || blockType || kMessages.contains(line.format),
            "undocumented message: " + line.format);
    Require(line.level == (blockType ? 0 : 32), "message at level " + std::to_string(line.level));
  }
  statistics.logLines += logLines.size();
  auto& counts = statistics.results[command];
  if (result >= 0 && result <= 2) ++counts[static_cast<size_t>(result)];
  return result;
}

// ---------------------------------------------------------------------------------------------
// Building the world.

std::vector<SimStation> SimStations() {
  std::vector<SimStation> stations = {
      {"0A0B0C010101", sim::S7Station("0A0B0C010101", 2)},
      {"0A0B0C010102", sim::S5Station("0A0B0C010102")},
      {"0A0B0C010103", sim::Type6Station("0A0B0C010103", 3)},
      {"0A0B0C010104", sim::S7Station("0A0B0C010104", 2)},
      {"0A0B0C010105", sim::S5Station("0A0B0C010105")},
      {"0A0B0C010106", sim::S7Station("0A0B0C010106", 4)},
  };
  stations[3].config.behaviour.pollsBeforeEstablished = 3;
  stations[3].config.behaviour.pollsBeforeResponse = 2;
  stations[4].config.ltsap = "LOCAL5";
  stations[4].config.rtsap = "READ5";
  stations[4].config.wtsap = "WRITE5";
  stations[5].config.behaviour.reachable = false;
  return stations;
}

void BuildNetwork() {
  sim::Network network;
  for (const SimStation& s : SimStations()) {
    sim::Station& station = network.Add(s.config);
    station.AddBlock(sim::DataBlock(1), 512);
    station.AddBlock(sim::DataBlock(2), 256);
    if (station.type() != sim::StationType::kS7) station.AddBlock(sim::ExtendedDataBlock(1), 64);
  }
  sim::InstallNetwork(std::move(network));
}

std::span<const TagTemplate> TagsOf(sim::StationType type) {
  switch (type) {
    case sim::StationType::kS5:
      return kS5Tags;
    case sim::StationType::kType6:
      return kType6Tags;
    case sim::StationType::kS7:
      break;
  }
  return kS7Tags;
}

std::vector<Instance> MakeInstances() {
  std::vector<Instance> instances(3);
  instances[0].driverNumber = 1;
  instances[0].stations = {{1, 0}, {2, 1}, {3, 2}};
  instances[0].stationFile =
      "; hall 1\r\n1=7,0A0B0C010101,2\r\n2=5,0A0B0C010102\r\n3=6,0A0B0C010103,,,\r\n"
      "3=7,0A0B0C010103,3 ; type 6 as S7 would be wrong, the next line sets it back\r\n"
      "3=6,0A0B0C010103\r\n9=7,0A0B0C0102,2\r\n10=8,0A0B0C010110\r\n";
  instances[1].driverNumber = 2;
  instances[1].stations = {{4, 3}, {5, 4}};
  instances[1].stationFile =
      "4=7,0A0B0C010104\n5=5,0A0B0C010105,LOCAL5,READ5,WRITE5\n11=7,0A0B0C010111,100\n";
  instances[2].driverNumber = 3;
  instances[2].stations = {{6, 5}, {7, 0}, {8, 2}};
  instances[2].stationFile = "6=7,0A0B0C010106,4\n7=7,0A0B0C010101\n8=6,0A0B0C010103,\n99=7,x\n";
  const std::vector<SimStation> simStations = SimStations();
  for (Instance& instance : instances) {
    char name[32];
    std::snprintf(name, sizeof name, "tavSH1%02d.int", instance.driverNumber);
    std::ofstream(name, std::ios::binary) << instance.stationFile;
    std::memset(instance.block.get(), 0, sizeof(DriverInstance));
    for (const auto& [number, simStation] : instance.stations) {
      for (const TagTemplate& form :
           TagsOf(simStations[static_cast<size_t>(simStation)].config.type)) {
        char text[16];
        std::snprintf(text, sizeof text, "%02d%s", number, form.address);
        instance.tags.push_back({text, &form, simStation, {}});
        model.try_emplace({simStation, &form}, static_cast<size_t>(form.maxCount));
      }
    }
  }
  return instances;
}

// Command 11 ends every instance's connections; command 1 then brings one back.
void CloseH1(std::vector<Instance>& instances, DriverInstance* any) {
  Run(any, 11, nullptr);
  for (Instance& instance : instances) instance.open = false;
}

void Initialise(Instance& instance, Random& random) {
  static const std::vector<int32_t> kTimeouts = {0, 1, 10, 10, 20, 30};
  InitBlock init{{}, 1, random.Pick(kTimeouts)};
  const int32_t result = Run(instance.block.get(), 1, &init, instance.driverNumber);
  Require(result == 0, "initialisation of driver " + std::to_string(instance.driverNumber) +
                           " returned " + std::to_string(result));
  instance.open = true;
  if (instance.parsed) return;
  // The host parses its tags once, after the first initialisation.
  instance.parsed = true;
  for (Tag& tag : instance.tags) {
    AddressBlock& block = tag.parsed;
    block = AddressBlock{};
    block.addressText = tag.name.c_str();
    block.hostDataType = tag.form->hostType;
    block.elementCount = tag.form->maxCount;
    Require(Run(instance.block.get(), 3, &block) == 0, "tag " + tag.name + " does not parse");
  }
}

// ---------------------------------------------------------------------------------------------
// Transfers.

// Host bytes of one element of the kind, for a block transfer; a tag command uses its cell.
size_t ElementBytes(Kind kind) {
  switch (kind) {
    case Kind::kDoubleWord:
    case Kind::kFloat:
      return 4;
    case Kind::kString:
      return 9;  // the templates' strings have 9 characters, 8 of which travel
    default:
      return 2;
  }
}

// The bytes of one element that reach the station and come back: a byte's low byte, a bit's bit
// 0, 8 of the string's 9 characters.
std::vector<uint8_t> Significant(Kind kind, const uint8_t* element) {
  switch (kind) {
    case Kind::kByte:
      return {element[0]};
    case Kind::kBit:
      return {static_cast<uint8_t>(element[0] & 1)};
    case Kind::kString:
      return {element, element + 8};
    default:
      return {element, element + ElementBytes(kind)};
  }
}

// A value the station keeps exactly: S5 stations round floats to their own format, so floats
// for them carry at most 21 significant bits.
void FillElement(Kind kind, bool s5, uint8_t* element, Random& random) {
  if (kind == Kind::kFloat && s5) {
    const auto value =
        static_cast<float>(std::ldexp(random.Int(-(1 << 20), 1 << 20), random.Int(-30, 30)));
    std::memcpy(element, &value, 4);
    return;
  }
  if (kind == Kind::kString) {
    for (size_t i = 0; i < 9; ++i) element[i] = static_cast<uint8_t>(random.Int(0x20, 0x7E));
    return;
  }
  const uint32_t bits = random.Bits();
  std::memcpy(element, &bits, ElementBytes(kind));
}

struct Transfer {
  int32_t command;
  TransferBlock block{};
  std::unique_ptr<uint8_t[]> host;
  size_t hostBytes = 0;
  size_t elementOffset = 0;  // where the first element lies in the host array (2 in a 16-bit cell)
  size_t count = 1;
};

Transfer PrepareTransfer(int32_t command, const Tag& tag, bool s5, Random& random) {
  Transfer transfer;
  transfer.command = command;
  const Kind kind = tag.form->kind;
  const bool tagCommand = command == 5 || command == 7;
  transfer.count = tagCommand || kind == Kind::kBit || kind == Kind::kString
                       ? 1
                       : static_cast<size_t>(random.Int(1, tag.form->maxCount));
  if (tagCommand) {
    const bool sixteenBits = kind == Kind::kByte || kind == Kind::kWord || kind == Kind::kBit;
    transfer.hostBytes = kind == Kind::kString ? 9 : 4;
    transfer.elementOffset = sixteenBits ? 2 : 0;
  } else {
    transfer.hostBytes = transfer.count * ElementBytes(kind);
  }
  transfer.host = std::make_unique<uint8_t[]>(transfer.hostBytes);
  for (size_t i = 0; i < transfer.hostBytes; ++i) transfer.host[i] = static_cast<uint8_t>(0xE0 + i);
  if (command == 7 || command == 10) {
    for (size_t i = 0; i < transfer.count; ++i) {
      FillElement(kind, s5, transfer.host.get() + transfer.elementOffset + i * ElementBytes(kind),
                  random);
    }
  }
  transfer.block.tagName = tag.name.c_str();
  transfer.block.plcNumber = tag.parsed.plcNumber;
  transfer.block.areaTypeCode = tag.parsed.areaTypeCode;
  transfer.block.packedAddress = tag.parsed.packedAddress;
  transfer.block.bitNumber = tag.parsed.bitNumber;
  transfer.block.count = static_cast<int32_t>(transfer.count);
  transfer.block.data = transfer.host.get();
  return transfer;
}

// Spoils one field so that the TransferBlock breaks a limit; the driver must refuse it.
void Spoil(Transfer& transfer, const Tag& tag, Random& random) {
  TransferBlock& block = transfer.block;
  const bool blockCommand = transfer.command == 6 || transfer.command == 10;
  const bool string = tag.form->kind == Kind::kString;
  switch (random.Int(0, 4)) {
    case 0:
      block.plcNumber = random.Chance(50) ? -1 : 99;
      break;
    case 1:
      block.data = nullptr;
      break;
    case 2:
      block.areaTypeCode = 'Z';
      break;
    case 3:
      // A negative count; for a tag, a bit beyond its element (a string has none at all).
      if (blockCommand) {
        block.count = -1;
      } else {
        block.bitNumber = string ? 0 : 40;
      }
      break;
    default:
      // More than the TransferBuffer holds (a string's length comes from its address).
      if (blockCommand && !string) {
        block.count = 20'001;
      } else {
        block.data = nullptr;
      }
      break;
  }
}

void CheckBudget(const DriverInstance& instance, const Calls& before) {
  const uint64_t passes = static_cast<uint64_t>(std::max(instance.retryBudget, 0));
  Require(calls.receiveReads - before.receiveReads <= 2 * (passes + 1), "read polls beyond budget");
  Require(calls.acknowledgements - before.acknowledgements <= passes, "ack polls beyond budget");
  Require(calls.sendReads - before.sendReads <= 2 * (21 + passes), "read re-sends beyond budget");
  Require(calls.sendWrites - before.sendWrites <= 1, "a write sent twice");
  Require(calls.others == before.others, "a transfer called a connection operation");
  Require(calls.sleptMilliseconds - before.sleptMilliseconds <= 2 * (1001 + 50 * passes) + passes,
          "slept beyond the budget");
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (const uint8_t byte : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    text += digits;
  }
  return text;
}

// Compares what a successful read delivered with the model, then records it.
void CheckRead(const Transfer& transfer, std::vector<ElementValue>& elements, Kind kind) {
  for (size_t i = 0; i < transfer.count; ++i) {
    const uint8_t* element = transfer.host.get() + transfer.elementOffset + i * ElementBytes(kind);
    std::vector<uint8_t> value = Significant(kind, element);
    if (kind == Kind::kBit) {
      Require(element[0] <= 1 && element[1] == 0, "a bit read neither 0 nor 1");
    } else if (kind == Kind::kByte) {
      Require(element[1] == 0, "a byte read not zero-extended");
    }
    if (elements[i]) {
      ++statistics.readBacks;
      Require(*elements[i] == value, "command " + std::to_string(transfer.command) + " read " +
                                         Hex(value) + " from element " + std::to_string(i) +
                                         " of " + transfer.block.tagName + ", written " +
                                         Hex(*elements[i]));
    }
    elements[i] = std::move(value);
  }
}

void RunTransfer(Instance& instance, Random& random) {
  const Tag& tag = random.Pick(instance.tags);
  const bool s5 = ActiveNetwork().stations()[static_cast<size_t>(tag.simStation)].type() !=
                  sim::StationType::kS7;
  static const std::vector<int32_t> kCommands = {5, 6, 7, 10};
  const int32_t command = random.Pick(kCommands);
  const bool bitTag = tag.form->kind == Kind::kBit;
  // A bit tag goes through the tag commands only.
  const int32_t tagCommand = command == 6 ? 5 : command == 10 ? 7 : command;
  Transfer transfer = PrepareTransfer(bitTag ? tagCommand : command, tag, s5, random);
  const bool spoilt = random.Chance(3);
  if (spoilt) Spoil(transfer, tag, random);
  const std::vector<uint8_t> before(transfer.host.get(), transfer.host.get() + transfer.hostBytes);
  const TransferBlock blockBefore = transfer.block;
  const Calls callsBefore = calls;

  const int32_t result = Run(instance.block.get(), transfer.command, &transfer.block);

  const bool changed = !std::equal(before.begin(), before.end(), transfer.host.get());
  if (tag.form->kind == Kind::kString) {
    Require(transfer.host[8] == before[8], "the ninth character of a string moved");
  }
  const bool write = transfer.command == 7 || transfer.command == 10;
  Require(!changed || (!write && result == 0), "the host array changed without a good read");
  if (transfer.command == 5 && result == 0 && transfer.elementOffset == 2) {
    Require(transfer.host[0] == before[0] && transfer.host[1] == before[1],
            "bytes 0 and 1 of a value cell changed");
  }
  TransferBlock expected = blockBefore;
  if (transfer.command == 5 || transfer.command == 7) expected.count = transfer.block.count;
  Require(std::memcmp(&expected, &transfer.block, sizeof expected) == 0 &&
              (expected.count == blockBefore.count || expected.count == 1),
          "the TransferBlock changed");
  CheckBudget(*instance.block, callsBefore);
  if (result == 0) Require(logLines.empty(), "a log line on success");
  if (spoilt) {
    ++statistics.refusals;
    Require(result == 1 && calls.exchanges() == callsBefore.exchanges(),
            "a spoilt TransferBlock was not refused before anything was sent");
    return;
  }

  std::vector<ElementValue>& elements = model.at({tag.simStation, tag.form});
  if (!write && result == 0) {
    CheckRead(transfer, elements, tag.form->kind);
  } else if (write) {
    for (size_t i = 0; i < transfer.count; ++i) {
      if (result != 0) {
        elements[i].reset();  // a failed write may or may not have reached the station
        continue;
      }
      elements[i] = Significant(tag.form->kind, transfer.host.get() + transfer.elementOffset +
                                                    i * ElementBytes(tag.form->kind));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Faults.

void InjectFault(Random& random) {
  sim::Network& network = ActiveNetwork();
  sim::Station& station = network.stations()[static_cast<size_t>(random.Int(0, 5))];
  struct Choice {
    Operation operation;
    uint16_t result;
    uint16_t statusWord;
    int maxTimes;
  };
  static const std::vector<Choice> kChoices = {
      {Operation::kSendReadRequest, 3, 0, 25},
      {Operation::kSendReadRequest, 9, 0, 2},
      {Operation::kSendReadRequest, 14, 0, 1},
      {Operation::kSendReadRequest, 5, 0, 1},
      {Operation::kReceiveReadData, 6, 0, 300},
      {Operation::kReceiveReadData, 7, 0, 5},
      {Operation::kReceiveReadData, 3, 0, 2},
      {Operation::kReceiveReadData, 9, 0, 2},
      {Operation::kReceiveReadData, 0, 1, 1},
      {Operation::kReceiveReadData, 0, 2, 1},
      {Operation::kSendWriteRequest, 3, 0, 1},
      {Operation::kSendWriteRequest, 9, 0, 1},
      {Operation::kReceiveWriteAcknowledge, 6, 0, 300},
      {Operation::kReceiveWriteAcknowledge, 3, 0, 1},
      {Operation::kReceiveWriteAcknowledge, 9, 0, 1},
      {Operation::kReceiveWriteAcknowledge, 0, 3, 1},
      {Operation::kOpenS5Connection, 11, 0, 1},
      {Operation::kOpenS5Connection, 0, 7, 1},
      {Operation::kOpenS7Connection, 12, 0, 1},
      {Operation::kOpenS7Connection, 0, 9, 1},
      {Operation::kConnectionState, 4, 0, 150},
      {Operation::kRestartConnection, 2, 0, 1},
  };
  const Choice& choice = random.Pick(kChoices);
  station.Inject(choice.operation, {.result = choice.result,
                                    .statusWord = choice.statusWord,
                                    .times = random.Int(1, choice.maxTimes),
                                    .after = random.Int(0, 3)});
  ++statistics.faults;
}

// When each station switched off comes back on; the sixth station stays off throughout.
std::array<uint64_t, 5> backOnAt{};

void SwitchBackOn() {
  for (size_t i = 0; i < backOnAt.size(); ++i) {
    if (backOnAt[i] != 0 && requestNumber >= backOnAt[i]) {
      ActiveNetwork().stations()[i].behaviour().reachable = true;
      backOnAt[i] = 0;
    }
  }
}

void DisturbStation(Random& random) {
  sim::Network& network = ActiveNetwork();
  const auto index = static_cast<size_t>(random.Int(0, 4));
  sim::Station& station = network.stations()[index];
  sim::Behaviour& behaviour = station.behaviour();
  switch (random.Int(0, 3)) {
    case 0:
      behaviour.reachable = false;
      backOnAt[index] = requestNumber + static_cast<uint64_t>(random.Int(20, 400));
      ++statistics.switches;
      break;
    case 1:
      network.Drop(station);
      ++statistics.drops;
      break;
    case 2:
      behaviour.pollsBeforeResponse = random.Int(0, 4);
      behaviour.pollsBeforeEstablished = random.Int(0, 4);
      break;
    default:
      behaviour.dropAfterExchanges = random.Chance(90) ? 0 : random.Int(20, 200);
      behaviour.refuseResult = random.Chance(95) ? 0 : static_cast<uint16_t>(random.Int(1, 12));
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// The other commands.

void RunAddressCommand(Instance& instance, Random& random) {
  static const std::vector<std::string> kTexts = {
      "01DW0010000", "02DF0010020", "01XW0010000", "03DB0010060",   "01SB0010090 9",
      "01MB001015",  "05MW0021",    "99DW0010000", "01DW00100",     "",
      "01dw0010004", "02DD0010031", "01QB0040",    "03DW001008015", "4DW0010000"};
  AddressBlock block{};
  const std::string& text = random.Pick(kTexts);
  block.addressText = text.c_str();
  block.hostDataType = random.Int(0, 8);
  block.elementCount = random.Int(-1, 1200);
  Run(instance.block.get(), random.Chance(50) ? 3 : 4, &block);
}

void RunSerialCommand(Instance& instance, Random& random) {
  switch (random.Int(0, 2)) {
    case 0: {
      PortParameters parameters{};
      std::strcpy(parameters.portName, "NUL");
      parameters.timeout = random.Chance(80) ? 0 : random.Int(100, 300);
      parameters.baudRate = 9600;
      parameters.dataBits = 8;
      Run(instance.block.get(), 15, &parameters);
      break;
    }
    case 1:
      Run(instance.block.get(), 13, nullptr);
      break;
    default:
      Run(instance.block.get(), 12, nullptr);
      break;
  }
}

void RunOtherCommand(std::vector<Instance>& instances, Instance& instance, Random& random) {
  const int choice = random.Int(0, 99);
  if (choice < 35) {
    ReconnectBlock reconnect{random.Chance(80) ? random.Pick(instance.stations).first
                                               : random.Int(-2, 100)};
    Run(instance.block.get(), 2, &reconnect);
  } else if (choice < 60) {
    RunAddressCommand(instance, random);
  } else if (choice < 63) {
    CloseH1(instances, instance.block.get());
  } else if (choice < 80) {
    InfoBlock info{};
    Run(nullptr, 14, &info);
    Require(info.instanceSize == sizeof(DriverInstance), "command 14 instance size");
  } else if (choice < 95) {
    RunSerialCommand(instance, random);
  } else {
    static const std::vector<int32_t> kNoCommand = {0, 8, 9, 16, -1};
    Run(instance.block.get(), random.Pick(kNoCommand), nullptr);
  }
}

// ---------------------------------------------------------------------------------------------

uint64_t Setting(int argc, char** argv, int index, const char* variable, uint64_t fallback) {
  const char* text = argc > index ? argv[index] : std::getenv(variable);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

int Main(int argc, char** argv) {
  const uint64_t requests = Setting(argc, argv, 1, "TAV_SOAK_REQUESTS", 100'000);
  runSeed = Setting(argc, argv, 2, "TAV_SOAK_SEED", 11);
  const auto started = std::chrono::steady_clock::now();
  testing::InstallH1Library(kSimulatedNetwork);

  char directory[] = "/tmp/tavsh1-soak-XXXXXX";
  Require(mkdtemp(directory) != nullptr && chdir(directory) == 0, "no working directory");
  BuildNetwork();
  std::vector<Instance> instances = MakeInstances();
  Random random(runSeed);

  while (requestNumber < requests) {
    if (requestNumber % 2000 == 0) {
      for (sim::Station& station : ActiveNetwork().stations()) station.faults().Clear();
      ActiveNetwork().ClearExchanges();
    }
    SwitchBackOn();
    if (random.Chance(10)) InjectFault(random);
    if (random.Chance(1)) DisturbStation(random);
    Instance& instance = instances[static_cast<size_t>(random.Int(0, 2))];
    const int choice = random.Int(0, 999);
    if (!instance.open || choice < 5) {
      // The README's advice: close the H1 driver library before initialising again.
      if (instance.open) CloseH1(instances, instance.block.get());
      Initialise(instance, random);
    } else if (choice < 850) {
      RunTransfer(instance, random);
    } else {
      RunOtherCommand(instances, instance, random);
    }
  }

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("fault soak: %llu requests, seed %llu, %.1f s; no violation\n",
              static_cast<unsigned long long>(requestNumber),
              static_cast<unsigned long long>(runSeed), seconds);
  std::printf(
      "  faults injected %llu, stations switched %llu, dropped %llu; refused %llu; "
      "values read back %llu; log lines %llu\n",
      static_cast<unsigned long long>(statistics.faults),
      static_cast<unsigned long long>(statistics.switches),
      static_cast<unsigned long long>(statistics.drops),
      static_cast<unsigned long long>(statistics.refusals),
      static_cast<unsigned long long>(statistics.readBacks),
      static_cast<unsigned long long>(statistics.logLines));
  for (const auto& [command, counts] : statistics.results) {
    std::printf("  command %3d: result 0 %8llu, 1 %8llu, 2 %8llu\n", command,
                static_cast<unsigned long long>(counts[0]),
                static_cast<unsigned long long>(counts[1]),
                static_cast<unsigned long long>(counts[2]));
  }
  std::filesystem::remove_all(directory);
  return 0;
}

}  // namespace
}  // namespace tav::soak

int main(int argc, char** argv) {
  return tav::soak::Main(argc, argv);
}
