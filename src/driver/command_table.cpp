#include "driver/command_table.h"

#include <array>

#include "address/address_parser.h"
#include "driver/driver_info.h"
#include "driver/initialise.h"
#include "h1/connection_manager.h"
#include "serial/serial_channel.h"
#include "transfer/transfer.h"

namespace tav {
namespace {

struct Command {
  CommandCode code;
  CommandHandler handler;
};

// Every command the driver answers. Codes 8 and 9 have no handler.
constexpr Command kCommands[] = {
    {CommandCode::kInitialise, InitDriver},
    {CommandCode::kReconnect, ReconnectStation},
    {CommandCode::kParseAddress, ParseAddress},
    {CommandCode::kCheckAddress, CheckAddress},
    {CommandCode::kReadTag, ReadTag},
    {CommandCode::kReadBlock, ReadBlock},
    {CommandCode::kWriteTag, WriteTag},
    {CommandCode::kWriteBlock, WriteBlock},
    {CommandCode::kCloseH1, CloseH1},
    {CommandCode::kCloseSerialPort, CloseSerialPort},
    {CommandCode::kOpenSerialPort, OpenSerialPort},
    {CommandCode::kDriverInformation, DriverInformation},
    {CommandCode::kConfigureSerialPort, ConfigureSerialPort},
};

constexpr size_t kSlots = kLastCommandCode - kFirstCommandCode + 1;

// The commands laid out by code, so that dispatch is one index.
constexpr std::array<CommandHandler, kSlots> kCommandTable = [] {
  std::array<CommandHandler, kSlots> table{};
  for (const Command& command : kCommands) {
    table[static_cast<size_t>(ToInt(command.code) - kFirstCommandCode)] = command.handler;
  }
  return table;
}();

}  // namespace

CommandHandler FindHandler(int32_t code) {
  if (code < kFirstCommandCode || code > kLastCommandCode) return nullptr;
  return kCommandTable[static_cast<size_t>(code - kFirstCommandCode)];
}

}  // namespace tav
