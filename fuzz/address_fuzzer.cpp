// Drives commands 3 and 4 with arbitrary address texts, host data types, element counts and
// station tables, and checks what a valid answer promises: a configured station, a code of the
// AreaTypeCode table that names a kind the transfers take, the element width of that kind. The
// address grammar read on its own gives the driver's verdict and outputs, and its log line only
// for the rule that logs; a familiar form it translates reads as a 13-character address.
//
// Input: the address text up to the first NUL byte, then optionally the request's settings:
//   byte 0      odd: command 4 (check), even: command 3 (parse)
//   byte 1      host data type, a signed byte (bytes 2-5 follow only when it is -128: then they
//               hold the whole 32-bit host data type, little-endian)
//   next 4      element count, little-endian
//   then pairs  station number (taken modulo 99), PLC type; a type with bit 7 set unconfigures
//               the station instead
// Without settings the text is parsed (command 3) with host data type 1. Before any pair is
// applied, station 01 is an S7 station, 02 an S5 station and 03 a station of type 6.
//
// The text is copied into a heap buffer of exactly its length plus the NUL, so AddressSanitizer
// reports any read past the terminator.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

#include "abi/address_block.h"
#include "abi/area_type.h"
#include "abi/driver_instance.h"
#include "driver/tav_main.h"
#include "grammar/address_grammar.h"
#include "grammar/familiar_address.h"
#include "support/fake_host_log.h"
#include "transfer/transfer_plan.h"

namespace {

using tav::AddressBlock;
using tav::CommandCode;
using tav::DriverInstance;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "address fuzzer: %s\n", what);
  std::abort();
}

class Settings {
 public:
  Settings(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return position_ >= size_; }
  uint8_t Byte() { return empty() ? 0 : data_[position_++]; }
  int32_t Int32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(Byte()) << (8 * i);
    return static_cast<int32_t>(value);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

void Configure(tav::PlcEntry& entry, uint8_t type) {
  entry.plcType = type;
  std::strcpy(entry.ethernetAddress, "080006010203");
}

bool IsValidCode(uint32_t code) {
  using namespace tav;
  switch (code & ~static_cast<uint32_t>(kAreaExtended)) {
    case kAreaDataWord:
    case kAreaDataByte:
    case kAreaDataDouble:
    case kAreaDataDoubleOdd:
    case kAreaDataFloat:
    case kAreaDataFloatOdd:
      return true;
    default:
      break;
  }
  switch (code) {
    case kAreaDataWordOdd:
    case kAreaString:
    case kAreaInputBytes:
    case kAreaOutputBytes:
    case kAreaFlagBytes:
    case kAreaInputWords:
    case kAreaOutputWords:
    case kAreaFlagWords:
      return true;
    default:
      return false;
  }
}

// What every valid answer promises the transfers.
void CheckValidAnswer(const DriverInstance& instance, const AddressBlock& block,
                      CommandCode command) {
  using namespace tav;
  Require(IsStationNumber(block.plcNumber), "station out of range");
  const PlcEntry& entry = instance.plcTable[block.plcNumber];
  Require(IsConfigured(entry), "station not configured");
  Require(IsValidCode(block.areaTypeCode), "unknown AreaTypeCode");
  // Every code the parser gives names a kind the transfers take, of the width it reports.
  const tav::ElementKind element = tav::ElementKindOf(block.areaTypeCode);
  Require(element != tav::ElementKind::kNone, "a code no transfer takes");
  const bool wideElement =
      element == tav::ElementKind::kDoubleWord || element == tav::ElementKind::kFloat;
  Require(block.elementWidth == (wideElement ? 32u : 16u), "element width of another kind");
  Require(block.bitNumber <= 15 || block.bitNumber == kNoBitNumber, "bit number out of range");
  if (command == CommandCode::kCheckAddress)
    Require(block.bitNumber == kNoBitNumber, "check mode read a bit number");
  const uint8_t kind = KindByte(block.areaTypeCode);
  const uint8_t qualifier = AreaQualifier(block.areaTypeCode);
  const bool wide = kind == 'D' || kind == 'd' || kind == 'F' || kind == 'f';
  Require(block.elementWidth == (wide ? 32u : 16u), "element width");
  if (qualifier == kQualifierExtended) {
    Require(entry.plcType != kPlcTypeS7, "extended data block on an S7 station");
  }
  const bool dataBlock = (qualifier == 0 || qualifier == kQualifierExtended) && kind != kAreaString;
  if (entry.plcType == kPlcTypeS5 && dataBlock) {
    Require(kind != kAreaDataByte, "byte address in an S5 data block");
    Require(block.packedAddress >> kPackedBlockShift <= 255, "S5 block number above 255");
  }
  if (block.areaTypeCode == kAreaString) {
    Require(command == CommandCode::kParseAddress, "command 4 accepted a string");
    Require(block.hostDataType == kHostTypeString, "string without host type 7");
    const uint32_t length = block.packedAddress >> kPackedLengthShift;
    Require(length >= 1 && length <= 80, "string length");
  }
}

std::optional<uint8_t> ConfiguredType(const void* context, int32_t station) {
  const tav::PlcEntry& entry = static_cast<const DriverInstance*>(context)->plcTable[station];
  if (!tav::IsConfigured(entry)) return std::nullopt;
  return entry.plcType;
}

// The grammar alone, on a block as the driver got it: the same verdict, the same outputs (also
// those a refused address leaves), a log line exactly for an extended block on an S7 station.
void CheckGrammarAgrees(const DriverInstance& instance, const AddressBlock& given,
                        const AddressBlock& answered, CommandCode command, int32_t result) {
  char normalised[tav::kAddressLength];
  tav::NormaliseAddress(given.addressText, normalised);
  AddressBlock block = given;
  const auto grammarCommand = command == CommandCode::kCheckAddress ? tav::AddressCommand::kCheck
                                                                    : tav::AddressCommand::kParse;
  const tav::AddressVerdict verdict = tav::ReadAddressText(
      normalised, grammarCommand, tav::StationTypes{&instance, ConfiguredType}, block);
  Require(verdict.valid() == (result == 0), "the grammar's verdict differs from the driver's");
  Require(std::memcmp(&block, &answered, sizeof block) == 0,
          "the grammar's outputs differ from the driver's");
  const bool logs = verdict.rule == tav::AddressRule::kS7ExtendedBlock;
  Require(logs == !tav::fake::LogLines().empty(), "a log line for another rule");
  Require(verdict.position + verdict.width <= tav::kAddressLength, "a rule beyond the text");
}

// A familiar form translates into a text of the 13-character form's characters.
void CheckFamiliarTranslation(const DriverInstance& instance, std::string_view text) {
  const tav::StationTypes stations{&instance, ConfiguredType};
  const tav::FamiliarTranslation translation =
      tav::TranslateFamiliarAddress(text, text.size() % 2 != 0, stations);
  if (!translation.translated()) return;
  Require(tav::IsFamiliarAddress(text), "translated a text that is no familiar form");
  const std::string_view thirteen = translation.address();
  Require(thirteen.size() <= tav::kAddressLength && !tav::IsFamiliarAddress(thirteen),
          "a translation that is no 13-character address");
  char normalised[tav::kAddressLength];
  char bounded[tav::kAddressLength + 1] = {};
  thirteen.copy(bounded, tav::kAddressLength);
  tav::NormaliseAddress(bounded, normalised);
  AddressBlock block{};
  const tav::AddressVerdict verdict =
      tav::ReadAddressText(normalised, tav::AddressCommand::kCheck, stations, block);
  Require(verdict.rule != tav::AddressRule::kCharacter, "a translation the grammar cannot read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto instance = std::make_unique<DriverInstance>();
  static auto before = std::make_unique<DriverInstance>();

  const auto* terminator = static_cast<const uint8_t*>(std::memchr(data, 0, size));
  const size_t textLength = terminator != nullptr ? static_cast<size_t>(terminator - data) : size;
  auto text = std::make_unique<char[]>(textLength + 1);
  std::memcpy(text.get(), data, textLength);
  text[textLength] = '\0';
  const auto original = std::make_unique<char[]>(textLength + 1);
  std::memcpy(original.get(), text.get(), textLength + 1);

  Settings settings(data + textLength + 1, terminator != nullptr ? size - textLength - 1 : 0);
  const bool settingsGiven = !settings.empty();
  const CommandCode command = settingsGiven && (settings.Byte() & 1) != 0
                                  ? CommandCode::kCheckAddress
                                  : CommandCode::kParseAddress;
  int32_t hostType = settingsGiven ? static_cast<int8_t>(settings.Byte()) : 1;
  if (hostType == INT8_MIN) hostType = settings.Int32();
  const int32_t count = settingsGiven ? settings.Int32() : 1;

  std::memset(instance.get(), 0, sizeof(DriverInstance));
  Configure(instance->plcTable[1], tav::kPlcTypeS7);
  Configure(instance->plcTable[2], tav::kPlcTypeS5);
  Configure(instance->plcTable[3], 6);
  while (!settings.empty()) {
    tav::PlcEntry& entry = instance->plcTable[settings.Byte() % tav::kStationCount];
    const uint8_t type = settings.Byte();
    if ((type & 0x80) != 0) {
      entry.ethernetAddress[0] = '\0';
    } else {
      Configure(entry, type);
    }
  }
  std::memcpy(before.get(), instance.get(), sizeof(DriverInstance));

  AddressBlock block;
  std::memset(&block, 0xA5, sizeof block);
  block.addressText = text.get();
  block.hostDataType = hostType;
  block.elementCount = count;
  const uint32_t hostField = block.hostField;
  const AddressBlock given = block;
  tav::fake::ClearLog();

  tav::Request request = tav::MakeRequest(instance.get(), command, &block);
  const int32_t result = TavMain(&request);

  Require(result == 0 || result == 1, "result neither 0 nor 1");
  Require(std::memcmp(text.get(), original.get(), textLength + 1) == 0, "address text changed");
  Require(std::memcmp(before.get(), instance.get(), sizeof(DriverInstance)) == 0,
          "instance changed");
  Require(block.addressText == text.get() && block.hostField == hostField &&
              block.hostDataType == hostType && block.elementCount == count,
          "an input field changed");
  Require(tav::fake::LogLines().size() <= 1, "more than one log line");
  if (!tav::fake::LogLines().empty()) {
    Require(result == 1 && tav::fake::LogLines()[0].level == 0, "log line on a valid address");
  }
  CheckGrammarAgrees(*instance, given, block, command, result);
  CheckFamiliarTranslation(*instance, std::string_view(text.get(), textLength));
  if (result == 0) {
    CheckValidAnswer(*instance, block, command);
    if (command == CommandCode::kCheckAddress)
      Require(count <= 1000, "command 4 accepted more than 1000 elements");
  }
  return 0;
}
