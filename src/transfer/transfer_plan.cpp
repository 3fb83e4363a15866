#include "transfer/transfer_plan.h"

#include <array>

#include "abi/area_type.h"
#include "platform/host_log.h"

namespace tav {
namespace {

constexpr const char kReadRefused[] = "TavSH1: Read Tag %s Refused, %s";
constexpr const char kWriteRefused[] = "TavSH1: Write Tag %s Refused, %s";
constexpr const char kReadFailed[] = "TavSH1: Read Tag %s Failed, rc=%d,%d";
constexpr const char kWriteFailed[] = "TavSH1: Write Tag %s Failed, rc=%d,%d";

// Where a kind's data lie at the station.
enum class Placement : uint8_t { kDataBlock, kString, kProcessArea };

// The request's area kinds.
constexpr uint16_t kDataBlockArea = static_cast<uint16_t>(AreaKind::kDataBlock);
constexpr uint16_t kExtendedDataBlockArea = static_cast<uint16_t>(AreaKind::kExtendedDataBlock);
constexpr uint16_t kInputArea = static_cast<uint16_t>(AreaKind::kInputs);
constexpr uint16_t kFlagArea = static_cast<uint16_t>(AreaKind::kFlags);
constexpr uint16_t kOutputArea = static_cast<uint16_t>(AreaKind::kOutputs);

// What the low byte of an AreaTypeCode selects. The odd-offset codes ('d', 'f', and the odd S7
// word 1) carry the offset of the aligned element below the value; the advance moves the request
// onto the value's own first word (S5) or byte (S7).
struct KindRule {
  ElementKind element = ElementKind::kNone;
  Placement placement = Placement::kDataBlock;
  uint16_t areaKind = kDataBlockArea;
  uint8_t s5Advance = 0;
  uint8_t s7Advance = 0;
};

constexpr std::array<KindRule, 256> MakeKindRules() {
  constexpr auto kBlock = Placement::kDataBlock;
  constexpr auto kProcess = Placement::kProcessArea;
  std::array<KindRule, 256> rules{};
  rules[kAreaDataByte] = {ElementKind::kByte, kBlock, kDataBlockArea};
  rules[kAreaDataWord] = {ElementKind::kWord, kBlock, kDataBlockArea};
  rules[kAreaDataWordOdd] = {ElementKind::kWord, kBlock, kDataBlockArea, 0, 1};
  rules[kAreaDataDouble] = {ElementKind::kDoubleWord, kBlock, kDataBlockArea};
  rules[kAreaDataDoubleOdd] = {ElementKind::kDoubleWord, kBlock, kDataBlockArea, 1, 2};
  rules[kAreaDataFloat] = {ElementKind::kFloat, kBlock, kDataBlockArea};
  rules[kAreaDataFloatOdd] = {ElementKind::kFloat, kBlock, kDataBlockArea, 1, 2};
  rules[kAreaString] = {ElementKind::kString, Placement::kString, kDataBlockArea};
  // Bytes unless the qualifier says words.
  rules[kAreaInputs] = {ElementKind::kByte, kProcess, kInputArea};
  rules[kAreaFlags] = {ElementKind::kByte, kProcess, kFlagArea};
  rules[kAreaOutputs] = {ElementKind::kByte, kProcess, kOutputArea};
  return rules;
}

constexpr std::array<KindRule, 256> kKindRules = MakeKindRules();

// The rule for a whole AreaTypeCode: its low byte's, with the qualifier applied.
KindRule RuleOf(uint32_t areaTypeCode) {
  KindRule rule = kKindRules[KindByte(areaTypeCode)];
  const uint8_t qualifier = AreaQualifier(areaTypeCode);
  if (rule.placement == Placement::kProcessArea && qualifier == kQualifierWords) {
    rule.element = ElementKind::kWord;
  }
  if (rule.placement == Placement::kDataBlock && qualifier == kQualifierExtended) {
    rule.areaKind = kExtendedDataBlockArea;
  }
  return rule;
}

// Request units per unit of stored offset (start) and per element (length).
struct Scale {
  uint8_t start;
  uint8_t length;
};
struct RequestScales {
  Scale s5;
  Scale s7;
};

// S7 stations count bytes. S5 data blocks count 16-bit words, and S5 inputs, outputs and flags
// count bytes from a byte offset, so their words take two bytes each.
constexpr RequestScales ScalesOf(ElementKind element, bool processArea) {
  switch (element) {
    case ElementKind::kWord:
      return processArea ? RequestScales{{1, 2}, {2, 2}} : RequestScales{{1, 1}, {2, 2}};
    case ElementKind::kDoubleWord:
    case ElementKind::kFloat:
      return {{2, 2}, {4, 4}};
    default:
      return {{1, 1}, {1, 1}};
  }
}

// Fills in the request's area kind, block number, start and length from the TransferBlock and
// the station's type. Returns false when the start or the length does not fit its 16-bit field.
bool BuildRequest(const TransferBlock& block, const KindRule& rule, bool s7,
                  RequestRecord& request) {
  const uint64_t offset = PackedOffset(block.packedAddress);
  uint64_t start = 0;
  uint64_t length = 0;
  uint32_t blockNumber = 0;
  if (rule.element == ElementKind::kString) {
    // A string's block number has 8 bits; its length above them never reaches the request.
    // Strings travel in whole pairs of characters.
    const uint32_t pairs = PackedStringLength(block.packedAddress) / 2;
    start = offset;
    length = s7 ? 2 * pairs : pairs;
    blockNumber = PackedStringBlock(block.packedAddress);
  } else {
    const bool processArea = rule.placement == Placement::kProcessArea;
    const RequestScales scales = ScalesOf(rule.element, processArea);
    const Scale scale = s7 ? scales.s7 : scales.s5;
    start = scale.start * offset + (s7 ? rule.s7Advance : rule.s5Advance);
    length = scale.length * static_cast<uint64_t>(block.count);
    if (!processArea) blockNumber = PackedBlock(block.packedAddress);
  }
  if (start > UINT16_MAX || length > UINT16_MAX) return false;
  request.connection = 0;
  request.areaKind = rule.areaKind;
  request.blockNumber = static_cast<uint16_t>(blockNumber);
  request.start = static_cast<uint16_t>(start);
  request.length = static_cast<uint16_t>(length);
  return true;
}

// Bytes that pass through the TransferBuffer: the length counts words in S5 data blocks.
size_t BufferBytes(const RequestRecord& request, bool s7) {
  const bool words =
      !s7 && (request.areaKind == kDataBlockArea || request.areaKind == kExtendedDataBlockArea);
  return size_t{request.length} * (words ? 2 : 1);
}

// Host elements (characters for a string) that the transfer reads or writes.
size_t HostCount(ElementKind element, const RequestRecord& request, bool s7,
                 const TransferBlock& block) {
  if (element == ElementKind::kString) return s7 ? request.length : size_t{request.length} * 2;
  return static_cast<size_t>(block.count);
}

}  // namespace

ElementKind ElementKindOf(uint32_t areaTypeCode) {
  return RuleOf(areaTypeCode).element;
}

const char* TagNameOf(const TransferBlock* block) {
  return block != nullptr && block->tagName != nullptr ? block->tagName : "";
}

const char* FailureFormat(Direction direction) {
  return direction == Direction::kRead ? kReadFailed : kWriteFailed;
}

TransferOutcome RefuseTransfer(Direction direction, const TransferBlock* block,
                               const char* reason) {
  err(kLogLevelNormal, direction == Direction::kRead ? kReadRefused : kWriteRefused,
      TagNameOf(block), reason);
  return TransferOutcome::kRefused;
}

TransferOutcome PlanTransfer(DriverInstance* instance, const TransferBlock* block,
                             Direction direction, Transfer& transfer) {
  if (instance == nullptr) return RefuseTransfer(direction, block, "no driver instance");
  if (block == nullptr) return RefuseTransfer(direction, block, "no TransferBlock");
  const KindRule rule = RuleOf(block->areaTypeCode);
  if (rule.element == ElementKind::kNone) {
    return RefuseTransfer(direction, block, "unknown area type");
  }
  if (!IsStationNumber(block->plcNumber)) return RefuseTransfer(direction, block, "no such PLC");
  if (block->count < 0) return RefuseTransfer(direction, block, "negative count");
  if (block->data == nullptr) return RefuseTransfer(direction, block, "no data array");

  const PlcEntry& station = instance->plcTable[block->plcNumber];
  const bool s7 = station.plcType == kPlcTypeS7;
  RequestRecord request{};
  if (!BuildRequest(*block, rule, s7, request)) {
    return RefuseTransfer(direction, block, "start or length beyond 16 bits");
  }
  if (BufferBytes(request, s7) > kTransferBufferSize) {
    return RefuseTransfer(direction, block, "too long for the TransferBuffer");
  }

  transfer = Transfer{
      .instance = instance,
      .station = &station,
      .tagName = TagNameOf(block),
      .direction = direction,
      .element = rule.element,
      .plcType = station.plcType,
      .s7 = s7,
      .bigEndianWords = s7 || rule.placement == Placement::kProcessArea,
      .exchangePairs = station.plcType == kPlcTypeS5,
      .bytesInWords =
          !s7 && rule.element == ElementKind::kByte && rule.placement == Placement::kDataBlock,
      .count = HostCount(rule.element, request, s7, *block),
      .hostData = static_cast<uint8_t*>(block->data),
      .request = request,
  };
  return TransferOutcome::kDone;
}

}  // namespace tav
