#include "support/h1_shims.h"

#include <cstdio>
#include <cstdlib>

namespace tav::testing {
namespace {

constinit H1Operations installed{};

// The installed operation, or the end of the program: a program that calls the H1 library before
// installing one is itself broken.
template <typename Operation>
Operation Installed(Operation operation, const char* name) {
  if (operation == nullptr) {
    std::fprintf(stderr, "%s called, but no H1 library is installed\n", name);
    std::abort();
  }
  return operation;
}

}  // namespace

void InstallH1Library(const H1Operations& operations) {
  installed = operations;
}

}  // namespace tav::testing

using tav::testing::Installed;
using tav::testing::installed;

extern "C" {

uint16_t TAV_H1_CALL H1OpenDriver(void) {
  return Installed(installed.openDriver, "H1OpenDriver")();
}
uint16_t TAV_H1_CALL H1CloseDriver(void) {
  return Installed(installed.closeDriver, "H1CloseDriver")();
}
uint16_t TAV_H1_CALL H1OpenS5Connection(void* connectRecord) {
  return Installed(installed.openS5, "H1OpenS5Connection")(connectRecord);
}
uint16_t TAV_H1_CALL H1OpenS7Connection(void* connectRecord, uint32_t reserved) {
  return Installed(installed.openS7, "H1OpenS7Connection")(connectRecord, reserved);
}
uint16_t TAV_H1_CALL H1ConnectionState(uint32_t connection) {
  return Installed(installed.state, "H1ConnectionState")(connection);
}
uint16_t TAV_H1_CALL H1RestartConnection(uint32_t connection) {
  return Installed(installed.restart, "H1RestartConnection")(connection);
}
uint16_t TAV_H1_CALL H1ReleaseConnection(uint32_t connection) {
  return Installed(installed.release, "H1ReleaseConnection")(connection);
}
uint16_t TAV_H1_CALL H1SendReadRequest(void* requestRecord) {
  return Installed(installed.sendRead, "H1SendReadRequest")(requestRecord);
}
uint16_t TAV_H1_CALL H1ReceiveReadData(uint32_t bufferSize, void* buffer, uint16_t* statusWord,
                                       uint32_t connection) {
  return Installed(installed.receiveRead, "H1ReceiveReadData")(bufferSize, buffer, statusWord,
                                                               connection);
}
uint16_t TAV_H1_CALL H1SendWriteRequest(void* requestRecord, void* buffer) {
  return Installed(installed.sendWrite, "H1SendWriteRequest")(requestRecord, buffer);
}
uint16_t TAV_H1_CALL H1ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t connection) {
  return Installed(installed.receiveWrite, "H1ReceiveWriteAcknowledge")(statusWord, connection);
}

}  // extern "C"
