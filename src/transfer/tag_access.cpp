// Single-tag read and write over the block operations: one element, in the host's 4-byte value
// cell, and bit tags.

#include <array>

#include "vocabulary/byte_order.h"
#include "transfer/transfer.h"
#include "transfer/transfer_plan.h"

namespace tav {
namespace {

// A 16-bit element sits in bytes 2 and 3 of the value cell; bytes 0 and 1 are the host's. A bit
// tag's value is bit 0 of that same 16-bit word, whatever the width of the element holding it.
constexpr size_t kCellWordOffset = 2;

// Bits of each element kind at the station: a byte has 8 even though the host holds it in 16.
// A string has no bits; an unknown kind is refused later, when the transfer is planned, as such.
constexpr std::array<uint32_t, kElementKinds> kElementBits = {
    /* kNone       */ UINT32_MAX,
    /* kByte       */ 8,
    /* kWord       */ 16,
    /* kDoubleWord */ 32,
    /* kFloat      */ 32,
    /* kString     */ 0,
};

// One element held by the driver during a bit access, in the host's element layout.
struct Element {
  uint8_t bytes[4] = {};
  bool wide = false;  // 32 bits; otherwise 16

  uint32_t Value() const { return wide ? LoadLe32(bytes) : LoadLe16(bytes); }
  void SetValue(uint32_t value) {
    if (wide) {
      StoreLe32(bytes, value);
    } else {
      StoreLe16(bytes, static_cast<uint16_t>(value));
    }
  }
  // The element's bit `bitNumber`, which CheckTag has found inside the element.
  static uint32_t Mask(uint32_t bitNumber) { return 1u << bitNumber; }
};

// Checks what the tag commands themselves rely on before they touch the TransferBlock or the
// value cell; the block operations check the rest.
TransferOutcome CheckTag(const Request& request, Direction direction) {
  const auto* block = static_cast<const TransferBlock*>(request.parameters);
  if (request.instance == nullptr) return RefuseTransfer(direction, block, "no driver instance");
  if (block == nullptr) return RefuseTransfer(direction, block, "no TransferBlock");
  if (block->data == nullptr) return RefuseTransfer(direction, block, "no data array");
  if (block->bitNumber == kNoBitNumber) return TransferOutcome::kDone;
  const ElementKind kind = ElementKindOf(block->areaTypeCode);
  if (kind == ElementKind::kString) return RefuseTransfer(direction, block, "bit of a string");
  // Bits 8 to 15 of a byte would read 0 and write nothing, whatever the station holds.
  if (block->bitNumber >= kElementBits[static_cast<size_t>(kind)]) {
    return RefuseTransfer(direction, block, "bit beyond the element");
  }
  return TransferOutcome::kDone;
}

// The TransferBlock for the one element of the tag, pointing at the element's place in the
// value cell. The host's TransferBlock is left alone.
TransferBlock ElementBlock(const TransferBlock& block) {
  TransferBlock element = block;
  element.count = 1;
  if (IsSixteenBitKind(ElementKindOf(block.areaTypeCode))) {
    element.data = static_cast<uint8_t*>(block.data) + kCellWordOffset;
  }
  return element;
}

// The TransferBlock of the tag's whole element, held by the driver in `element`.
TransferBlock HeldElementBlock(const TransferBlock& block, Element& element) {
  element.wide = !IsSixteenBitKind(ElementKindOf(block.areaTypeCode));
  TransferBlock held = block;
  held.count = 1;
  held.bitNumber = kNoBitNumber;
  held.data = element.bytes;
  return held;
}

}  // namespace

CommandResult ReadTag(const Request& request) {
  if (const TransferOutcome outcome = CheckTag(request, Direction::kRead);
      outcome != TransferOutcome::kDone) {
    return ToCommandResult(outcome);
  }
  auto& block = *static_cast<TransferBlock*>(request.parameters);
  block.count = 1;
  if (block.bitNumber == kNoBitNumber) {
    const TransferBlock elementBlock = ElementBlock(block);
    return ToCommandResult(ReadTransferBlock(request.instance, &elementBlock));
  }

  // A bit tag: the cell changes only once the element has been read.
  Element element;
  const TransferBlock held = HeldElementBlock(block, element);
  if (const TransferOutcome outcome = ReadTransferBlock(request.instance, &held);
      outcome != TransferOutcome::kDone) {
    return ToCommandResult(outcome);
  }
  const bool set = (element.Value() & Element::Mask(block.bitNumber)) != 0;
  StoreLe16(static_cast<uint8_t*>(block.data) + kCellWordOffset, set ? 1 : 0);
  return 0;
}

CommandResult WriteTag(const Request& request) {
  if (const TransferOutcome outcome = CheckTag(request, Direction::kWrite);
      outcome != TransferOutcome::kDone) {
    return ToCommandResult(outcome);
  }
  auto& block = *static_cast<TransferBlock*>(request.parameters);
  block.count = 1;
  if (block.bitNumber == kNoBitNumber) {
    const TransferBlock elementBlock = ElementBlock(block);
    return ToCommandResult(WriteTransferBlock(request.instance, &elementBlock));
  }

  // A bit tag: read the element, change the one bit, write the element back. The PLC's changes
  // to the other bits between the two exchanges are overwritten.
  const bool set = (LoadLe16(static_cast<const uint8_t*>(block.data) + kCellWordOffset) & 1) != 0;
  Element element;
  const TransferBlock held = HeldElementBlock(block, element);
  if (const TransferOutcome outcome = ReadTransferBlock(request.instance, &held, Direction::kWrite);
      outcome != TransferOutcome::kDone) {
    return ToCommandResult(outcome);
  }
  const uint32_t mask = Element::Mask(block.bitNumber);
  element.SetValue(set ? element.Value() | mask : element.Value() & ~mask);
  return ToCommandResult(WriteTransferBlock(request.instance, &held));
}

}  // namespace tav
