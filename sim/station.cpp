#include "sim/station.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "vocabulary/byte_order.h"
#include "vocabulary/s5_float.h"
#include "sim/h1_codes.h"

namespace tav::sim {

namespace {

StationConfig Config(std::string_view address, StationType type, uint8_t slot) {
  StationConfig config;
  config.address = ParseEthernetAddress(address).value_or(EthernetAddress{});
  config.type = type;
  config.slot = slot;
  return config;
}

bool IsProcessArea(Area area) {
  return area != Area::kDataBlock && area != Area::kExtendedDataBlock;
}

}  // namespace

std::optional<EthernetAddress> ParseEthernetAddress(std::string_view text) {
  return ParseEthernetAddressText(text);
}

std::string FormatEthernetAddress(const EthernetAddress& address) {
  return EthernetAddressText(address);
}

StationConfig S7Station(std::string_view address, uint8_t slot) {
  return Config(address, StationType::kS7, slot);
}

StationConfig S5Station(std::string_view address) {
  return Config(address, StationType::kS5, 2);
}

StationConfig Type6Station(std::string_view address, uint8_t slot) {
  return Config(address, StationType::kType6, slot);
}

std::optional<Area> AreaOfKind(uint16_t areaKind) {
  switch (static_cast<AreaKind>(areaKind)) {
    case AreaKind::kDataBlock:
      return Area::kDataBlock;
    case AreaKind::kExtendedDataBlock:
      return Area::kExtendedDataBlock;
    case AreaKind::kInputs:
      return Area::kInputs;
    case AreaKind::kOutputs:
      return Area::kOutputs;
    case AreaKind::kFlags:
      return Area::kFlags;
  }
  return std::nullopt;
}

const char* AreaName(Area area) {
  switch (area) {
    case Area::kDataBlock:
      return "DB";
    case Area::kExtendedDataBlock:
      return "DX";
    case Area::kInputs:
      return "I";
    case Area::kOutputs:
      return "Q";
    case Area::kFlags:
      return "M";
  }
  return "?";
}

Station::Station(StationConfig config)
    : config_(std::move(config)),
      inputs_(std::min(config_.inputBytes, kMaxAreaUnits)),
      outputs_(std::min(config_.outputBytes, kMaxAreaUnits)),
      flags_(std::min(config_.flagBytes, kMaxAreaUnits)) {}

bool Station::WordAddressed(Area area) const {
  return config_.type != StationType::kS7 && !IsProcessArea(area);
}

bool Station::AddBlock(AreaRef block, uint32_t units) {
  if (IsProcessArea(block.area) || units > kMaxAreaUnits) return false;
  blocks_[{block.area, block.block}].assign(units * UnitBytes(block), 0);
  return true;
}

const std::vector<uint8_t>* Station::Image(AreaRef area) const {
  switch (area.area) {
    case Area::kInputs:
      return &inputs_;
    case Area::kOutputs:
      return &outputs_;
    case Area::kFlags:
      return &flags_;
    case Area::kDataBlock:
    case Area::kExtendedDataBlock:
      break;
  }
  const auto block = blocks_.find({area.area, area.block});
  return block == blocks_.end() ? nullptr : &block->second;
}

std::vector<uint8_t>* Station::Image(AreaRef area) {
  return const_cast<std::vector<uint8_t>*>(std::as_const(*this).Image(area));
}

uint32_t Station::UnitBytes(AreaRef area) const {
  return WordAddressed(area.area) ? 2 : 1;
}

uint32_t Station::Units(AreaRef area) const {
  const std::vector<uint8_t>* image = Image(area);
  return image == nullptr ? 0 : static_cast<uint32_t>(image->size() / UnitBytes(area));
}

const uint8_t* Station::Span(AreaRef area, uint32_t at, size_t count) const {
  const std::vector<uint8_t>* image = Image(area);
  if (image == nullptr) return nullptr;
  const uint64_t offset = uint64_t{at} * UnitBytes(area);
  if (offset > image->size() || count > image->size() - offset) return nullptr;
  return image->data() + offset;
}

uint8_t* Station::Span(AreaRef area, uint32_t at, size_t count) {
  return const_cast<uint8_t*>(std::as_const(*this).Span(area, at, count));
}

std::optional<std::vector<uint8_t>> Station::Bytes(AreaRef area, uint32_t at, size_t count) const {
  const uint8_t* bytes = Span(area, at, count);
  if (bytes == nullptr) return std::nullopt;
  return std::vector<uint8_t>(bytes, bytes + count);
}

std::optional<uint16_t> Station::Word(AreaRef area, uint32_t at) const {
  const uint8_t* bytes = Span(area, at, 2);
  if (bytes == nullptr) return std::nullopt;
  return LoadBe16(bytes);
}

std::optional<uint32_t> Station::DWord(AreaRef area, uint32_t at) const {
  const uint8_t* bytes = Span(area, at, 4);
  if (bytes == nullptr) return std::nullopt;
  return LoadBe32(bytes);
}

std::optional<double> Station::Float(AreaRef area, uint32_t at) const {
  const std::optional<uint32_t> raw = DWord(area, at);
  if (!raw) return std::nullopt;
  if (holdsS5Floats()) return DecodeS5Float(*raw);
  return std::bit_cast<float>(*raw);
}

std::optional<std::string> Station::Text(AreaRef area, uint32_t at, size_t length) const {
  const uint8_t* bytes = Span(area, at, length);
  if (bytes == nullptr) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

bool Station::PutBytes(AreaRef area, uint32_t at, std::span<const uint8_t> bytes) {
  uint8_t* target = Span(area, at, bytes.size());
  if (target == nullptr) return false;
  std::copy(bytes.begin(), bytes.end(), target);
  return true;
}

bool Station::PutWord(AreaRef area, uint32_t at, uint16_t value) {
  uint8_t* target = Span(area, at, 2);
  if (target == nullptr) return false;
  StoreBe16(target, value);
  return true;
}

bool Station::PutDWord(AreaRef area, uint32_t at, uint32_t value) {
  uint8_t* target = Span(area, at, 4);
  if (target == nullptr) return false;
  StoreBe32(target, value);
  return true;
}

bool Station::PutFloat(AreaRef area, uint32_t at, double value) {
  const uint32_t raw =
      holdsS5Floats() ? EncodeS5Float(value) : std::bit_cast<uint32_t>(static_cast<float>(value));
  return PutDWord(area, at, raw);
}

bool Station::PutText(AreaRef area, uint32_t at, std::string_view text) {
  return PutBytes(area, at, {reinterpret_cast<const uint8_t*>(text.data()), text.size()});
}

size_t Station::TransferBytes(const RequestRecord& request) const {
  const std::optional<Area> area = AreaOfKind(request.areaKind);
  const size_t unit = area && WordAddressed(*area) ? 2 : 1;
  return request.length * unit;
}

uint16_t Station::Check(const RequestRecord& request) const {
  const std::optional<Area> area = AreaOfKind(request.areaKind);
  if (!area) return h1::kStatusNoSuchArea;
  const AreaRef ref{*area, request.blockNumber};  // process areas have no block number
  if (!Has(ref)) return h1::kStatusNoSuchArea;
  if (uint32_t{request.start} + request.length > Units(ref)) return h1::kStatusOutOfRange;
  return h1::kStatusGood;
}

uint16_t Station::Fetch(const RequestRecord& request, std::span<uint8_t> buffer) const {
  if (const uint16_t status = Check(request); status != h1::kStatusGood) return status;
  const size_t bytes = TransferBytes(request);
  if (bytes > buffer.size()) return h1::kStatusTooLong;
  if (bytes == 0) return h1::kStatusGood;
  const AreaRef ref{*AreaOfKind(request.areaKind), request.blockNumber};
  const uint8_t* source = Span(ref, request.start, bytes);
  if (UnitBytes(ref) == 1) {
    std::memcpy(buffer.data(), source, bytes);
    return h1::kStatusGood;
  }
  for (size_t i = 0; i < bytes; i += 2) StoreLe16(&buffer[i], LoadBe16(source + i));
  return h1::kStatusGood;
}

uint16_t Station::Store(const RequestRecord& request, std::span<const uint8_t> data) {
  if (const uint16_t status = Check(request); status != h1::kStatusGood) return status;
  const size_t bytes = TransferBytes(request);
  if (bytes > data.size()) return h1::kStatusTooLong;
  if (bytes == 0) return h1::kStatusGood;
  const AreaRef ref{*AreaOfKind(request.areaKind), request.blockNumber};
  uint8_t* target = Span(ref, request.start, bytes);
  if (UnitBytes(ref) == 1) {
    std::memcpy(target, data.data(), bytes);
    return h1::kStatusGood;
  }
  for (size_t i = 0; i < bytes; i += 2) StoreBe16(target + i, LoadLe16(&data[i]));
  return h1::kStatusGood;
}

Station& Station::Inject(Operation operation, const Fault& fault) {
  faults_.Add(operation, fault);
  return *this;
}

}  // namespace tav::sim
