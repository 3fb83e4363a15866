// The DriverInstance: the one block of per-instance state. The host allocates it with the size
// that command 14 reports, keeps it and passes it in every request; its layout is shared with the
// host and is the same in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tav {

inline constexpr int kStationCount = 99;  // station numbers 0 to 98 index the PlcTable
inline constexpr int kLastStation = kStationCount - 1;
inline constexpr size_t kTransferBufferSize = 10'000;

inline constexpr uint8_t kPlcTypeS5 = 5;
inline constexpr uint8_t kPlcTypeS7 = 7;

// One SIMATIC station: its type, its H1 connections, its Ethernet address, TSAPs and slot.
struct PlcEntry {
  uint8_t plcType;  // 5 S5, 7 S7; the station file also admits 6
  uint8_t reserved1;
  uint16_t readConnection;   // read connection; for S7 and type 6 the only one. 0 = none
  uint16_t writeConnection;  // S5 write connection. 0 = none: writes go over readConnection
  char ethernetAddress[16];  // 12 hex digits; non-empty marks a configured station
  char ltsap[25];            // local TSAP of both S5 connections, 8 characters used
  char rtsap[25];            // remote TSAP of the S5 read connection
  char wtsap[25];            // remote TSAP of the S5 write connection
  uint8_t reserved2;
  uint8_t slot;  // S7 CPU slot, 1 to 255
  uint8_t padding;
};
static_assert(offsetof(PlcEntry, plcType) == 0);
static_assert(offsetof(PlcEntry, reserved1) == 1);
static_assert(offsetof(PlcEntry, readConnection) == 2);
static_assert(offsetof(PlcEntry, writeConnection) == 4);
static_assert(offsetof(PlcEntry, ethernetAddress) == 6);
static_assert(offsetof(PlcEntry, ltsap) == 22);
static_assert(offsetof(PlcEntry, rtsap) == 47);
static_assert(offsetof(PlcEntry, wtsap) == 72);
static_assert(offsetof(PlcEntry, reserved2) == 97);
static_assert(offsetof(PlcEntry, slot) == 98);
static_assert(offsetof(PlcEntry, padding) == 99);
static_assert(sizeof(PlcEntry) == 100);

// The serial channel's line settings.
struct LineSettings {
  uint16_t baudRate;
  uint16_t dataBits;
  uint16_t stopBits;
  uint16_t parity;
};
static_assert(offsetof(LineSettings, baudRate) == 0);
static_assert(offsetof(LineSettings, dataBits) == 2);
static_assert(offsetof(LineSettings, stopBits) == 4);
static_assert(offsetof(LineSettings, parity) == 6);
static_assert(sizeof(LineSettings) == 8);

struct DriverInstance {
  int32_t retryBudget;  // bound of the H1 polling loops; serial read time-out in 10 ms units
  uint32_t portHandle;  // open serial port's OS handle; 0 = no port open
  int32_t activeFlag;   // the host's enable flag; 1 after a successful serial open
  char portName[12];    // serial port name, at most 11 characters
  LineSettings lineSettings;
  uint16_t lineFlags;                           // DTR/RTS control bits of the serial channel
  uint8_t transferBuffer[kTransferBufferSize];  // data area of every H1 read and write
  PlcEntry plcTable[kStationCount];             // indexed by station number
  uint8_t padding[2];
};
static_assert(offsetof(DriverInstance, retryBudget) == 0);
static_assert(offsetof(DriverInstance, portHandle) == 4);
static_assert(offsetof(DriverInstance, activeFlag) == 8);
static_assert(offsetof(DriverInstance, portName) == 12);
static_assert(offsetof(DriverInstance, lineSettings) == 24);
static_assert(offsetof(DriverInstance, lineFlags) == 32);
static_assert(offsetof(DriverInstance, transferBuffer) == 34);
static_assert(offsetof(DriverInstance, plcTable) == 10'034);
static_assert(offsetof(DriverInstance, padding) == 19'934);
static_assert(sizeof(DriverInstance) == 19'936);

// Whether `station` names an entry of the PlcTable.
constexpr bool IsStationNumber(int32_t station) {
  return station >= 0 && station <= kLastStation;
}

// A station is configured exactly when its Ethernet address is non-empty.
constexpr bool IsConfigured(const PlcEntry& entry) {
  return entry.ethernetAddress[0] != '\0';
}

}  // namespace tav
