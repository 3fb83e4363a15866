#include "tags/tag.h"

#include <fmt/core.h>

#include <iterator>
#include <map>

#include "abi/area_type.h"
#include "abi/transfer_block.h"
#include "cli/output.h"
#include "tags/address_rules.h"
#include "vocabulary/area_rules.h"
#include "vocabulary/element_kinds.h"

namespace tavhost {

namespace {

// The element kind of a code the grammar gives; words for any other.
tav::ElementKind ElementOf(uint32_t areaTypeCode) {
  const tav::AreaKindInfo* area = tav::AreaKindOf(areaTypeCode);
  return area != nullptr ? area->element : tav::ElementKind::kWord;
}

// The host element of each element kind, in the vocabulary's order.
constexpr ValueKind kValueKinds[] = {ValueKind::kWord,       ValueKind::kByte,  ValueKind::kWord,
                                     ValueKind::kDoubleWord, ValueKind::kFloat, ValueKind::kString};
static_assert(std::size(kValueKinds) == tav::kElementKinds);

ValueKind KindOf(const tav::AddressBlock& parsed) {
  if (parsed.bitNumber != tav::kNoBitNumber) return ValueKind::kBit;
  return kValueKinds[static_cast<size_t>(ElementOf(parsed.areaTypeCode))];
}

}  // namespace

size_t ElementBytes(ValueKind kind) {
  return kind == ValueKind::kDoubleWord || kind == ValueKind::kFloat ? 4 : 2;
}

size_t Tag::HostBytes() const {
  if (kind == ValueKind::kBit) return kValueCellBytes;
  if (kind == ValueKind::kString) return StringLength();
  return static_cast<size_t>(count) * ElementBytes(kind);
}

uint32_t Tag::StringLength() const {
  return tav::PackedStringLength(parsed.packedAddress);
}

size_t Tag::StringCharactersMoved() const {
  return StringLength() & ~uint32_t{1};
}

std::optional<std::string> ThirteenCharacterForm(Host& host, std::string_view command,
                                                 const std::string& address,
                                                 std::optional<int32_t> hostDataType,
                                                 int& exitCode) {
  if (!tav::IsFamiliarAddress(address)) return address;
  const tav::FamiliarTranslation translation = tav::TranslateFamiliarAddress(
      address, hostDataType == tav::kHostTypeFloat, StationsOf(host.instance()));
  if (translation.translated()) return std::string(translation.address());
  exitCode = kExitRefused;
  ReportError(command, FamiliarRefusalText(address, translation.rule),
              {{"address", address}, {"rule", FamiliarRuleName(translation.rule)}});
  return std::nullopt;
}

CLI::Transformer HostDataTypeNames() {
  const std::map<std::string, int32_t> names = {
      {"float", tav::kHostTypeFloat}, {"bit", tav::kHostTypeBit}, {"string", tav::kHostTypeString}};
  return CLI::Transformer(names, CLI::ignore_case);
}

int32_t HostDataTypeOf(Host& host, const std::string& address) {
  return HostDataTypeFor(address, StationsOf(host.instance()));
}

std::optional<Tag> ParseTag(Host& host, const std::string& address, int32_t hostDataType,
                            int32_t count, int32_t& result) {
  Tag tag;
  tag.address = address;
  tag.parsed.addressText = tag.address.c_str();
  tag.parsed.hostDataType = hostDataType;
  tag.parsed.elementCount = count;
  result = host.driver().Run(&host.instance(), tav::CommandCode::kParseAddress, &tag.parsed,
                             host.driverNumber());
  if (result != 0) return std::nullopt;
  tag.parsed.addressText = nullptr;  // the Tag may move; the driver keeps no pointer
  tag.kind = KindOf(tag.parsed);
  tag.plcType = host.instance().plcTable[tag.parsed.plcNumber].plcType;
  tag.count = tag.kind == ValueKind::kBit || tag.kind == ValueKind::kString ? 1 : count;
  return tag;
}

std::optional<Tag> PrepareTag(Host& host, std::string_view command, const std::string& typed,
                              std::optional<int32_t> hostDataType, int64_t count, int& exitCode) {
  const std::optional<std::string> thirteen =
      ThirteenCharacterForm(host, command, typed, hostDataType, exitCode);
  if (!thirteen) return std::nullopt;
  const std::string& address = *thirteen;
  exitCode = kExitUsage;
  if (address.size() > kAddressCharacters) {
    ReportError(command,
                fmt::format("{}: an address has at most 13 characters, not {} (the driver "
                            "would read only \"{}\")",
                            address, address.size(), address.substr(0, kAddressCharacters)));
    return std::nullopt;
  }
  const int32_t type = hostDataType.value_or(HostDataTypeOf(host, address));
  int32_t result = 0;
  std::optional<Tag> tag = ParseTag(host, address, type, 1, result);
  if (!tag) {
    const AddressReading reading =
        ReadAddress(address, AddressCommand::kParse, type, 1, StationsOf(host.instance()));
    exitCode = reading.valid() ? kExitDisagreement : kExitRefused;
    ReportError(command,
                fmt::format("{}: the driver refuses the address (result {}): {}", address, result,
                            reading.valid() ? "tavhost's rules find no fault in it"
                                            : RefusalText(*reading.refusal)));
    return std::nullopt;
  }
  const bool single = tag->kind == ValueKind::kBit || tag->kind == ValueKind::kString;
  const int32_t most =
      single ? 1
             : MaxElementsPerTransfer(tag->parsed.areaTypeCode,
                                      host.instance().plcTable[tag->parsed.plcNumber].plcType);
  if (count < 1 || count > most) {
    ReportError(command,
                single ? fmt::format("{} is a {} tag: it has one element, not {}", address,
                                     KindName(tag->kind), count)
                : count < 1
                    ? fmt::format("{} elements: a transfer moves at least one", count)
                    : fmt::format("{} elements: a transfer of {} moves at most {} (the driver's "
                                  "10,000-byte buffer)",
                                  count, address, most));
    return std::nullopt;
  }
  tag->count = static_cast<int32_t>(count);
  exitCode = kExitDone;
  return tag;
}

int32_t MaxElementsPerTransfer(uint32_t areaTypeCode, uint8_t plcType) {
  return static_cast<int32_t>(tav::kTransferBufferSize /
                              tav::TransferBytesPerElement(areaTypeCode, plcType));
}

std::string_view KindName(ValueKind kind) {
  if (kind == ValueKind::kBit) return "bit";
  for (size_t element = 0; element < tav::kElementKinds; ++element) {
    if (kValueKinds[element] == kind) return tav::kElementKindTable[element].name;
  }
  return "word";
}

}  // namespace tavhost
