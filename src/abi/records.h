// The records that cross the boundary between the host and TavMain.
#pragma once

#include <cstddef>
#include <cstdint>

#include "abi/command_code.h"
#include "abi/host_abi.h"

namespace tav {

struct DriverInstance;

// The request the host passes to TavMain; the host owns it and the driver never changes it.
struct Request {
  DriverInstance* instance;  // the instance the command works on
  int32_t command;           // a CommandCode; any value may arrive
  int32_t driverNumber;      // names the station file at initialisation
  uint32_t reserved;
  void* parameters;  // the command's parameter record
};
static_assert(offsetof(Request, instance) == 0);
static_assert(!kHostAbi || offsetof(Request, command) == 4);
static_assert(!kHostAbi || offsetof(Request, driverNumber) == 8);
static_assert(!kHostAbi || offsetof(Request, reserved) == 12);
static_assert(!kHostAbi || offsetof(Request, parameters) == 16);
static_assert(!kHostAbi || sizeof(Request) == 20);

// The request for `code`, as a host builds it.
inline Request MakeRequest(DriverInstance* instance, CommandCode code, void* parameters,
                           int32_t driverNumber = 0) {
  return Request{instance, ToInt(code), driverNumber, 0, parameters};
}

// Command 1: initialise.
struct InitBlock {
  uint32_t hostReserved[3];  // not read by the driver
  int32_t enabled;           // 0 disables the instance
  int32_t timeout;           // the host's time-out; retryBudget becomes ten times it
};
static_assert(offsetof(InitBlock, hostReserved) == 0);
static_assert(offsetof(InitBlock, enabled) == 12);
static_assert(offsetof(InitBlock, timeout) == 16);
static_assert(sizeof(InitBlock) == 20);

// Command 2: reconnect one station.
struct ReconnectBlock {
  int32_t stationNumber;  // 0 to 98
};
static_assert(offsetof(ReconnectBlock, stationNumber) == 0);
static_assert(sizeof(ReconnectBlock) == 4);

// Command 14: the driver describes itself.
struct InfoBlock {
  int32_t infoTag;          // always 82
  const char* name;         // the driver's name
  const char* banner;       // the start-up banner, code page 437
  int32_t instanceSize;     // bytes the host allocates for each DriverInstance
  int32_t infoVersion;      // always 1
  uint32_t hostField1;      // left as the host set it
  uint32_t hostField2;      // left as the host set it
  int32_t capabilityLevel;  // always 3
};
static_assert(offsetof(InfoBlock, infoTag) == 0);
static_assert(!kHostAbi || offsetof(InfoBlock, name) == 4);
static_assert(!kHostAbi || offsetof(InfoBlock, banner) == 8);
static_assert(!kHostAbi || offsetof(InfoBlock, instanceSize) == 12);
static_assert(!kHostAbi || offsetof(InfoBlock, infoVersion) == 16);
static_assert(!kHostAbi || offsetof(InfoBlock, hostField1) == 20);
static_assert(!kHostAbi || offsetof(InfoBlock, hostField2) == 24);
static_assert(!kHostAbi || offsetof(InfoBlock, capabilityLevel) == 28);
static_assert(!kHostAbi || sizeof(InfoBlock) == 32);

}  // namespace tav
