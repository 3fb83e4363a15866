#include "transfer/transfer_plan.h"

#include "abi/area_type.h"
#include "platform/host_log.h"
#include "vocabulary/area_rules.h"

namespace tav {
namespace {

constexpr const char kReadRefused[] = "TavSH1: Read Tag %s Refused, %s";
constexpr const char kWriteRefused[] = "TavSH1: Write Tag %s Refused, %s";
constexpr const char kReadFailed[] = "TavSH1: Read Tag %s Failed, rc=%d,%d";
constexpr const char kWriteFailed[] = "TavSH1: Write Tag %s Failed, rc=%d,%d";

// The request's area kinds.
constexpr uint16_t kDataBlockArea = static_cast<uint16_t>(AreaKind::kDataBlock);
constexpr uint16_t kExtendedDataBlockArea = static_cast<uint16_t>(AreaKind::kExtendedDataBlock);
constexpr uint16_t kInputArea = static_cast<uint16_t>(AreaKind::kInputs);
constexpr uint16_t kFlagArea = static_cast<uint16_t>(AreaKind::kFlags);
constexpr uint16_t kOutputArea = static_cast<uint16_t>(AreaKind::kOutputs);

// What the whole AreaTypeCode selects: the vocabulary's rule, the request's area kind, and the
// advance of the odd-offset codes ('d', 'f', and the odd S7 word 1), which carry the offset of
// the aligned element below the value: the advance moves the request onto the value's own first
// word (S5) or byte (S7).
struct KindRule {
  ElementKind element = ElementKind::kNone;
  Placement placement = Placement::kDataBlock;
  uint16_t areaKind = kDataBlockArea;
  uint8_t s5Advance = 0;
  uint8_t s7Advance = 0;
};

struct Advance {
  AreaTypeCode code;
  uint8_t s5;
  uint8_t s7;
};
constexpr Advance kAdvances[] = {
    {kAreaDataWordOdd, 0, 1}, {kAreaDataDoubleOdd, 1, 2}, {kAreaDataFloatOdd, 1, 2}};

uint16_t ProcessAreaOf(uint8_t kindByte) {
  switch (kindByte) {
    case kAreaInputs:
      return kInputArea;
    case kAreaFlags:
      return kFlagArea;
    default:
      return kOutputArea;
  }
}

KindRule RuleOf(uint32_t areaTypeCode) {
  const AreaRule area = AreaRuleOf(areaTypeCode);
  KindRule rule{area.element, area.placement};
  const uint8_t kindByte = KindByte(areaTypeCode);
  if (rule.placement == Placement::kProcessArea) {
    rule.areaKind = ProcessAreaOf(kindByte);
  } else if (rule.placement == Placement::kDataBlock &&
             AreaQualifier(areaTypeCode) == kQualifierExtended) {
    rule.areaKind = kExtendedDataBlockArea;
  }
  for (const Advance& advance : kAdvances) {
    if (advance.code == kindByte) {
      rule.s5Advance = advance.s5;
      rule.s7Advance = advance.s7;
    }
  }
  return rule;
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
  const bool dataBlock =
      request.areaKind == kDataBlockArea || request.areaKind == kExtendedDataBlockArea;
  return size_t{request.length} * BufferBytesPerUnit(s7, dataBlock);
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
