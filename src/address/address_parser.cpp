#include "address/address_parser.h"

#include <cstdint>
#include <optional>

#include "abi/address_block.h"
#include "abi/driver_instance.h"
#include "grammar/address_grammar.h"
#include "platform/host_log.h"

namespace tav {
namespace {

// The parser's process-wide work area, shared by every instance: the normalised text of the
// address being parsed, and 1 while command 4's parse runs.
char workText[kAddressLength];
uint8_t checkMode = 0;

std::optional<uint8_t> ConfiguredType(const void* context, int32_t station) {
  const PlcEntry& entry = static_cast<const DriverInstance*>(context)->plcTable[station];
  if (!IsConfigured(entry)) return std::nullopt;
  return entry.plcType;
}

CommandResult Parse(const DriverInstance& instance, AddressBlock& block) {
  NormaliseAddress(block.addressText, workText);
  const AddressCommand command = checkMode == 0 ? AddressCommand::kParse : AddressCommand::kCheck;
  const AddressVerdict verdict =
      ReadAddressText(workText, command, StationTypes{&instance, ConfiguredType}, block);
  if (verdict.rule == AddressRule::kS7ExtendedBlock) {
    err(kLogLevelBlockType, "TavSH1: S7 PLC does not support Block type X");
  }
  return verdict.valid() ? 0 : 1;
}

}  // namespace

CommandResult ParseAddress(const Request& request) {
  auto* block = static_cast<AddressBlock*>(request.parameters);
  if (request.instance == nullptr || block == nullptr) return 1;
  return Parse(*request.instance, *block);
}

CommandResult CheckAddress(const Request& request) {
  auto* block = static_cast<AddressBlock*>(request.parameters);
  if (request.instance == nullptr || block == nullptr) return 1;

  checkMode = 1;
  const CommandResult result = Parse(*request.instance, *block);
  checkMode = 0;
  return result;
}

}  // namespace tav
