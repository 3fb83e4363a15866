// The eleven operations of the H1 driver library, answered by the active simulated network or,
// on Windows once ForwardH1OperationsTo has bound another H1 library's DLL, by that DLL. They are
// the library's exports, so they keep default visibility.
#include "sim/network.h"

#pragma GCC visibility push(default)
#include "platform/h1_library.h"
#pragma GCC visibility pop

#ifdef _WIN32
#include <windows.h>

#include <string_view>

#include "sim/h1_forwarding.h"
#include "vocabulary/h1_operations.h"
#endif

using tav::sim::ActiveNetwork;

namespace {

// The operations of the H1 library the calls are handed on to; null while the simulated network
// answers.
const tav::H1Operations* forwarded = nullptr;

}  // namespace

#ifdef _WIN32
namespace tav::sim {
namespace {

// Binds `function` to the export of `module` with the ordinal of the H1 operation `name`.
template <typename Function>
bool BindOrdinal(HMODULE module, std::string_view name, Function& function) {
  const WORD ordinal = tav::H1OrdinalOf(name);
  // GetProcAddress hands out a generic function pointer; void (*)() converts to any other.
  function = reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
  return function != nullptr;
}

}  // namespace

std::string ForwardH1OperationsTo(const std::string& dllPath) {
  const HMODULE module = LoadLibraryA(dllPath.c_str());
  if (module == nullptr) {
    return "cannot load " + dllPath + ": error " + std::to_string(GetLastError());
  }
  static tav::H1Operations operations;
  const bool bound = BindOrdinal(module, "H1OpenDriver", operations.openDriver) &&
                     BindOrdinal(module, "H1CloseDriver", operations.closeDriver) &&
                     BindOrdinal(module, "H1OpenS5Connection", operations.openS5) &&
                     BindOrdinal(module, "H1OpenS7Connection", operations.openS7) &&
                     BindOrdinal(module, "H1ConnectionState", operations.state) &&
                     BindOrdinal(module, "H1RestartConnection", operations.restart) &&
                     BindOrdinal(module, "H1ReleaseConnection", operations.release) &&
                     BindOrdinal(module, "H1SendReadRequest", operations.sendRead) &&
                     BindOrdinal(module, "H1ReceiveReadData", operations.receiveRead) &&
                     BindOrdinal(module, "H1SendWriteRequest", operations.sendWrite) &&
                     BindOrdinal(module, "H1ReceiveWriteAcknowledge", operations.receiveWrite);
  if (!bound) return dllPath + " lacks an operation of the H1 library";
  forwarded = &operations;
  return "";
}

}  // namespace tav::sim
#endif

extern "C" {

uint16_t TAV_H1_CALL H1OpenDriver(void) {
  return forwarded ? forwarded->openDriver() : ActiveNetwork().OpenDriver();
}

uint16_t TAV_H1_CALL H1CloseDriver(void) {
  return forwarded ? forwarded->closeDriver() : ActiveNetwork().CloseDriver();
}

uint16_t TAV_H1_CALL H1OpenS5Connection(void* connectRecord) {
  return forwarded ? forwarded->openS5(connectRecord)
                   : ActiveNetwork().OpenS5Connection(connectRecord);
}

// The second argument is reserved; the driver passes 0.
uint16_t TAV_H1_CALL H1OpenS7Connection(void* connectRecord, uint32_t reserved) {
  return forwarded ? forwarded->openS7(connectRecord, reserved)
                   : ActiveNetwork().OpenS7Connection(connectRecord);
}

uint16_t TAV_H1_CALL H1ConnectionState(uint32_t connection) {
  return forwarded ? forwarded->state(connection) : ActiveNetwork().ConnectionStateOf(connection);
}

uint16_t TAV_H1_CALL H1RestartConnection(uint32_t connection) {
  return forwarded ? forwarded->restart(connection) : ActiveNetwork().RestartConnection(connection);
}

uint16_t TAV_H1_CALL H1ReleaseConnection(uint32_t connection) {
  return forwarded ? forwarded->release(connection) : ActiveNetwork().ReleaseConnection(connection);
}

uint16_t TAV_H1_CALL H1SendReadRequest(void* requestRecord) {
  return forwarded ? forwarded->sendRead(requestRecord)
                   : ActiveNetwork().SendReadRequest(requestRecord);
}

uint16_t TAV_H1_CALL H1ReceiveReadData(uint32_t bufferSize, void* buffer, uint16_t* statusWord,
                                       uint32_t connection) {
  return forwarded ? forwarded->receiveRead(bufferSize, buffer, statusWord, connection)
                   : ActiveNetwork().ReceiveReadData(bufferSize, buffer, statusWord, connection);
}

uint16_t TAV_H1_CALL H1SendWriteRequest(void* requestRecord, void* buffer) {
  return forwarded ? forwarded->sendWrite(requestRecord, buffer)
                   : ActiveNetwork().SendWriteRequest(requestRecord, buffer);
}

uint16_t TAV_H1_CALL H1ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t connection) {
  return forwarded ? forwarded->receiveWrite(statusWord, connection)
                   : ActiveNetwork().ReceiveWriteAcknowledge(statusWord, connection);
}

}  // extern "C"
