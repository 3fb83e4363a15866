#include "plc_responder.h"

#include <algorithm>

#include "peer.h"
#include "vocabulary/byte_order.h"

namespace tav::h1eth::test {
namespace {

using namespace sessions;  // NOLINT(google-build-using-namespace): the dialects' vocabulary

constexpr uint8_t kS5ErrorNoSuchBlock = 2;
constexpr uint8_t kS5ErrorOutOfRange = 3;
constexpr size_t kS7JobHeaderBytes = 10;
constexpr size_t kS7ItemBytes = 12;

std::optional<sim::AreaRef> AreaOfS5(uint8_t org, uint8_t block) {
  switch (org) {
    case kS5OrgDataBlock:
      return sim::DataBlock(block);
    case kS5OrgExtendedDataBlock:
      return sim::ExtendedDataBlock(block);
    case kS5OrgFlags:
      return sim::Flags();
    case kS5OrgInputs:
      return sim::Inputs();
    case kS5OrgOutputs:
      return sim::Outputs();
    default:
      return std::nullopt;
  }
}

std::optional<sim::AreaRef> AreaOfS7(uint8_t area, uint16_t block) {
  switch (area) {
    case kS7AreaDataBlock:
      return sim::DataBlock(block);
    case kS7AreaFlags:
      return sim::Flags();
    case kS7AreaInputs:
      return sim::Inputs();
    case kS7AreaOutputs:
      return sim::Outputs();
    default:
      return std::nullopt;
  }
}

// The area's whole image, bytes as the PLC holds them.
std::optional<Bytes> Image(const sim::Station& station, sim::AreaRef area) {
  if (!station.Has(area)) return std::nullopt;
  return station.Bytes(area, 0, size_t{station.Units(area)} * station.UnitBytes(area));
}

Bytes AnswerS5(sim::Station& station, const S5Request& request, ByteView data) {
  const bool fetch = request.opcode == S5Opcode::kFetch;
  const S5Opcode ack = fetch ? S5Opcode::kFetchAck : S5Opcode::kWriteAck;
  const std::optional<sim::AreaRef> area = AreaOfS5(request.org, request.block);
  if (!area || !station.Has(*area)) return S5AnswerHeader({ack, kS5ErrorNoSuchBlock});
  const uint32_t unit = station.UnitBytes(*area);
  const size_t bytes = size_t{request.length} * unit;
  if (fetch) {
    const std::optional<Bytes> memory = station.Bytes(*area, request.start, bytes);
    if (!memory) return S5AnswerHeader({ack, kS5ErrorOutOfRange});
    Bytes answer = S5AnswerHeader({ack, 0});
    answer.insert(answer.end(), memory->begin(), memory->end());
    return answer;
  }
  if (data.size() != bytes || !station.PutBytes(*area, request.start, data)) {
    return S5AnswerHeader({ack, kS5ErrorOutOfRange});
  }
  return S5AnswerHeader({ack, 0});
}

struct S7Job {
  uint16_t reference;
  ByteView parameter;
  ByteView data;
};

std::optional<S7Job> ParseS7Job(ByteView pdu) {
  if (pdu.size() < kS7JobHeaderBytes || pdu[0] != 0x32 || pdu[1] != 0x01) return std::nullopt;
  const size_t parameterBytes = LoadBe16(&pdu[6]);
  const size_t dataBytes = LoadBe16(&pdu[8]);
  if (kS7JobHeaderBytes + parameterBytes + dataBytes != pdu.size() || parameterBytes < 2) {
    return std::nullopt;
  }
  return S7Job{LoadBe16(&pdu[4]), pdu.subspan(kS7JobHeaderBytes, parameterBytes),
               pdu.subspan(kS7JobHeaderBytes + parameterBytes, dataBytes)};
}

// One item addressed by byte: area, block, byte address and bytes; nothing for another form.
std::optional<S7Item> ParseS7Item(ByteView parameter) {
  if (parameter.size() != 2 + kS7ItemBytes || parameter[1] != 1 || parameter[2] != 0x12 ||
      parameter[3] != 0x0A || parameter[4] != 0x10 || parameter[5] != 0x02) {
    return std::nullopt;
  }
  return S7Item{parameter[10], LoadBe16(&parameter[8]), LoadBe24(&parameter[11]) / 8,
                LoadBe16(&parameter[6])};
}

std::optional<Bytes> AnswerS7(sim::Station& station, const S7Job& job) {
  using h1tcp::test::S7AckData;
  const auto function = static_cast<S7Function>(job.parameter[0]);
  if (function == S7Function::kSetup) {
    if (job.parameter.size() != 8) return std::nullopt;
    Bytes parameter(job.parameter.begin(), job.parameter.end());
    StoreBe16(&parameter[6], std::min(LoadBe16(&parameter[6]), kStationPduBytes));
    return S7AckData(job.reference, parameter, {});
  }
  const std::optional<S7Item> item = ParseS7Item(job.parameter);
  if (!item || (function != S7Function::kRead && function != S7Function::kWrite)) {
    return std::nullopt;
  }
  const bool read = function == S7Function::kRead;
  const std::optional<sim::AreaRef> area = AreaOfS7(item->area, item->block);
  std::optional<Bytes> image = area ? Image(station, *area) : std::nullopt;
  const auto answer = [&](uint8_t code, ByteView bytes = {}) {
    return read ? h1tcp::test::S7ReadAnswer(job.reference, code, bytes)
                : h1tcp::test::S7WriteAnswer(job.reference, code);
  };
  if (!image) return answer(kS7ItemNoSuchObject);
  if (size_t{item->byteAddress} + item->bytes > image->size()) return answer(kS7ItemOutOfRange);
  const auto at = image->begin() + item->byteAddress;
  if (read) return answer(kS7ItemSuccess, ByteView(&*at, item->bytes));
  // The data item: reserved, transport size, length, then the bytes.
  if (job.data.size() < 4 + size_t{item->bytes}) return std::nullopt;
  std::copy_n(job.data.begin() + 4, item->bytes, at);
  station.PutBytes(*area, 0, *image);
  return answer(kS7ItemSuccess);
}

}  // namespace

std::optional<Bytes> AnswerMessage(sim::Station& station, ByteView message) {
  if (station.type() == sim::StationType::kS5) {
    const std::optional<S5Request> request = ParseS5RequestHeader(message);
    if (!request) return std::nullopt;
    return AnswerS5(station, *request, message.subspan(kS5HeaderBytes));
  }
  const std::optional<S7Job> job = ParseS7Job(message);
  if (!job) return std::nullopt;
  return AnswerS7(station, *job);
}

}  // namespace tav::h1eth::test
