#include "driver/command_table.h"

#include "address/address_parser.h"
#include "driver/driver_info.h"
#include "h1/connection_manager.h"
#include "serial/serial_channel.h"
#include "transfer/transfer.h"

namespace tav {
namespace {

// One slot per command code from 1 to 15. Codes 8 and 9 have no handler.
constexpr std::array<CommandHandler, kCommandSlots> kCommandTable = {
    /*  1 */ InitDriver,
    /*  2 */ ReconnectStation,
    /*  3 */ ParseAddress,
    /*  4 */ CheckAddress,
    /*  5 */ ReadTag,
    /*  6 */ ReadBlock,
    /*  7 */ WriteTag,
    /*  8 */ nullptr,
    /*  9 */ nullptr,
    /* 10 */ WriteBlock,
    /* 11 */ CloseH1,
    /* 12 */ CloseSerialPort,
    /* 13 */ OpenSerialPort,
    /* 14 */ DriverInformation,
    /* 15 */ ConfigureSerialPort,
};

}  // namespace

CommandHandler FindHandler(int32_t code) {
  if (code < 1 || code > kCommandSlots) return nullptr;
  return kCommandTable[static_cast<size_t>(code - 1)];
}

}  // namespace tav
