#include "serial/serial_channel.h"

#include <cstring>
#include <iterator>
#include <string_view>

#include "abi/driver_instance.h"
#include "serial/port_operations.h"
#include "vocabulary/line_flags.h"

namespace tav {
namespace {

constexpr CommandResult kPortFailed = 2;

// The null device opens like a port but has no line to configure.
constexpr std::string_view kNullDevice = "NUL";

constexpr DWORD kDcbLength = 28;
static_assert(sizeof(DCB) == kDcbLength);

// A read waits at most this long in total after the open; writes never time out.
constexpr DWORD kOpenReadTimeoutMs = 1000;
constexpr DWORD kMsPerTimeoutUnit = 10;
constexpr DWORD kQueueBytes = 1200;
// Stands in for bytes received with a parity error, once error replacement is switched on.
constexpr char kErrorReplacement = '\xFC';

// The DCB's control modes, indexed by the line mode that lineFlags select
// (vocabulary/line_flags.h); DTR has no toggle mode, and a DTR rule never selects it.
constexpr DWORD kDtrControls[] = {DTR_CONTROL_DISABLE, DTR_CONTROL_ENABLE, DTR_CONTROL_HANDSHAKE,
                                  DTR_CONTROL_DISABLE};
constexpr DWORD kRtsControls[] = {RTS_CONTROL_DISABLE, RTS_CONTROL_ENABLE, RTS_CONTROL_HANDSHAKE,
                                  RTS_CONTROL_TOGGLE};
static_assert(static_cast<size_t>(LineMode::kToggle) + 1 == std::size(kRtsControls));

constexpr BYTE LowByte(uint16_t value) {
  return static_cast<BYTE>(value & 0xFF);
}

// The DCB as the channel runs every port: binary, parity checked, no flow control but what
// `lineFlags` select for DTR and RTS, the instance's line, and the fields the channel does not
// set (XON/XOFF characters and limits, end-of-file and event characters, continuing to send after
// an XOFF) as the port had them.
void ApplyLineSettings(DCB& dcb, const LineSettings& line, uint16_t lineFlags) {
  dcb.BaudRate = line.baudRate;
  dcb.fBinary = 1;
  dcb.fParity = 1;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDsrSensitivity = 0;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fAbortOnError = 0;
  dcb.fDtrControl = DtrControlFor(lineFlags) & 0x3;
  dcb.fRtsControl = RtsControlFor(lineFlags) & 0x3;
  dcb.ByteSize = LowByte(line.dataBits);
  dcb.Parity = LowByte(line.parity);
  dcb.StopBits = LowByte(line.stopBits);
  dcb.ErrorChar = kErrorReplacement;
}

// Closes a port that failed its configuration, so that a failed open leaves nothing open.
PortResult Abandon(HANDLE port, PortResult failure) {
  CloseHandle(port);
  return failure;
}

// A port name field, NUL-terminated when shorter than the field. A name that fills the field
// (/dev/ttyUSB0 has 12 characters) is taken whole and never read beyond.
constexpr size_t kPortNameSize = sizeof(DriverInstance::portName);
static_assert(sizeof(PortParameters::portName) == kPortNameSize);

std::string_view PortName(const char (&field)[kPortNameSize]) {
  return {field, strnlen(field, kPortNameSize)};
}

// Opens the port the instance names with its stored settings.
PortResult OpenInstancePort(const DriverInstance& instance, HANDLE& port) {
  char name[kPortNameSize + 1] = {};
  const std::string_view stored = PortName(instance.portName);
  stored.copy(name, stored.size());
  return OpenPort(name, instance.lineSettings, instance.lineFlags, port);
}

// Records a newly opened port in the instance. A port that admits more than one open (the null
// device) can open again while the instance still holds it; the handle it replaces is closed
// rather than lost.
void KeepPort(DriverInstance& instance, HANDLE port) {
  const uint32_t replaced = instance.portHandle;
  instance.portHandle = PortHandleBits(port);
  instance.activeFlag = 1;
  if (replaced != 0 && replaced != instance.portHandle) {
    static_cast<void>(ClosePort(PortFromHandleBits(replaced)));
  }
}

}  // namespace

uint32_t DtrControlFor(uint16_t lineFlags) {
  return kDtrControls[static_cast<size_t>(RuleFor(kDtrRules, lineFlags).mode)];
}

uint32_t RtsControlFor(uint16_t lineFlags) {
  return kRtsControls[static_cast<size_t>(RuleFor(kRtsRules, lineFlags).mode)];
}

PortResult OpenPort(const char* name, const LineSettings& line, uint16_t lineFlags, HANDLE& port) {
  const HANDLE opened = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, HANDLE{});
  if (opened == INVALID_HANDLE_VALUE) return PortResult::kNotOpened;
  if (name == kNullDevice) {
    port = opened;
    return PortResult::kOk;
  }

  DCB dcb{};
  dcb.DCBlength = kDcbLength;
  if (!GetCommState(opened, &dcb)) return Abandon(opened, PortResult::kStateNotRead);

  COMMTIMEOUTS timeouts{};
  timeouts.ReadTotalTimeoutConstant = kOpenReadTimeoutMs;
  if (!SetCommTimeouts(opened, &timeouts)) return Abandon(opened, PortResult::kNotOpened);

  ApplyLineSettings(dcb, line, lineFlags);
  if (!SetCommState(opened, &dcb)) return Abandon(opened, PortResult::kStateNotSet);

  // The queues are a request the OS may round or ignore.
  SetupComm(opened, kQueueBytes, kQueueBytes);
  port = opened;
  return PortResult::kOk;
}

PortResult ClosePort(HANDLE port) {
  return CloseHandle(port) ? PortResult::kOk : PortResult::kNotClosed;
}

int32_t SetReadTimeout(HANDLE port, int32_t timeout) {
  COMMTIMEOUTS timeouts{};
  if (!GetCommTimeouts(port, &timeouts)) return 0;
  const DWORD previous = timeouts.ReadTotalTimeoutConstant;
  // Counted in the record's unsigned 32 bits, where an out-of-range time-out wraps.
  const DWORD wanted = static_cast<DWORD>(timeout) * kMsPerTimeoutUnit;
  if (previous != wanted) {
    timeouts.ReadTotalTimeoutConstant = wanted;
    if (!SetCommTimeouts(port, &timeouts)) return 0;
  }
  return static_cast<int32_t>(previous / kMsPerTimeoutUnit);
}

CommandResult CloseSerialPort(const Request& request) {
  DriverInstance* instance = request.instance;
  if (instance == nullptr) return kPortFailed;
  if (instance->portHandle == 0) return 0;
  if (ClosePort(PortFromHandleBits(instance->portHandle)) != PortResult::kOk) return kPortFailed;
  instance->portHandle = 0;
  return 0;
}

CommandResult OpenSerialPort(const Request& request) {
  DriverInstance* instance = request.instance;
  if (instance == nullptr) return kPortFailed;
  HANDLE port{};
  if (OpenInstancePort(*instance, port) != PortResult::kOk) return kPortFailed;
  KeepPort(*instance, port);
  return 0;
}

CommandResult ConfigureSerialPort(const Request& request) {
  DriverInstance* instance = request.instance;
  const auto* parameters = static_cast<const PortParameters*>(request.parameters);
  if (instance == nullptr || parameters == nullptr) return kPortFailed;

  if (parameters->timeout != 0) instance->retryBudget = parameters->timeout;
  const std::string_view name = PortName(parameters->portName);
  if (name != PortName(instance->portName) && instance->portHandle != 0) {
    static_cast<void>(CloseSerialPort(request));
  }
  char newName[kPortNameSize] = {};
  name.copy(newName, name.size());
  std::memcpy(instance->portName, newName, kPortNameSize);
  if (parameters->baudRate != 0) {
    instance->lineSettings = {parameters->baudRate, parameters->dataBits, parameters->stopBits,
                              parameters->parity};
  }

  HANDLE port{};
  if (OpenInstancePort(*instance, port) != PortResult::kOk) return kPortFailed;
  KeepPort(*instance, port);
  // A port that refuses the time-out keeps the one second the open set.
  static_cast<void>(SetReadTimeout(port, instance->retryBudget));
  return 0;
}

}  // namespace tav
