#include "tags/transfer.h"

#include "abi/transfer_block.h"
#include "cli/output.h"
#include "tags/address_rules.h"

namespace tavhost {

namespace {

tav::TransferBlock Block(const Tag& tag, std::vector<uint8_t>& values) {
  return tav::TransferBlockFor(tag.parsed, tag.address.c_str(), tag.count, values.data());
}

// Runs a transfer command on the tag; keeps what the driver logged of a failed exchange.
TransferResult Transfer(Host& host, tav::CommandCode command, const Tag& tag,
                        std::vector<uint8_t>& values) {
  tav::TransferBlock block = Block(tag, values);
  const uint64_t linesBefore = DriverLogCount();
  TransferResult transfer;
  transfer.result = host.driver().Run(&host.instance(), command, &block, host.driverNumber());
  if (transfer.result != 0 && DriverLogCount() != linesBefore) {
    transfer.exchange = ExchangeOutcomeOf(LastDriverLog(), tag.address);
  }
  return transfer;
}

}  // namespace

std::string TransferFailureMeaning(const Tag& tag, const TransferResult& transfer) {
  if (transfer.result == 1) {
    if (std::optional<std::string> refusal =
            TransferRefusal(tag.parsed.areaTypeCode, tag.parsed.bitNumber)) {
      return "the driver refused the transfer: " + *refusal;
    }
  }
  if (transfer.exchange) return ExchangeOutcomeMeaning(*transfer.exchange);
  return std::string(TransferResultMeaning(transfer.result));
}

void AddExchangeOutcome(Json& document, const TransferResult& transfer) {
  if (transfer.exchange) {
    document["h1Result"] = transfer.exchange->libraryResult;
    document["statusWord"] = transfer.exchange->statusWord;
  }
}

TransferResult ReadTag(Host& host, const Tag& tag, std::vector<uint8_t>& values) {
  values.assign(tag.HostBytes(), 0);
  const tav::CommandCode command =
      tag.kind == ValueKind::kBit ? tav::CommandCode::kReadTag : tav::CommandCode::kReadBlock;
  return Transfer(host, command, tag, values);
}

TransferResult WriteTag(Host& host, const Tag& tag, std::vector<uint8_t>& values) {
  values.resize(tag.HostBytes());
  const tav::CommandCode command =
      tag.kind == ValueKind::kBit ? tav::CommandCode::kWriteTag : tav::CommandCode::kWriteBlock;
  return Transfer(host, command, tag, values);
}

}  // namespace tavhost
