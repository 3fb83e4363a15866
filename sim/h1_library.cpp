// The eleven operations of the H1 driver library, answered by the active simulated network. They
// are the library's exports, so they keep default visibility.
#include "sim/network.h"

#pragma GCC visibility push(default)
#include "platform/h1_library.h"
#pragma GCC visibility pop

using tav::sim::ActiveNetwork;

extern "C" {

uint16_t TAV_H1_CALL H1OpenDriver(void) {
  return ActiveNetwork().OpenDriver();
}

uint16_t TAV_H1_CALL H1CloseDriver(void) {
  return ActiveNetwork().CloseDriver();
}

uint16_t TAV_H1_CALL H1OpenS5Connection(void* connectRecord) {
  return ActiveNetwork().OpenS5Connection(connectRecord);
}

// The second argument is reserved; the driver passes 0.
uint16_t TAV_H1_CALL H1OpenS7Connection(void* connectRecord, uint32_t /*reserved*/) {
  return ActiveNetwork().OpenS7Connection(connectRecord);
}

uint16_t TAV_H1_CALL H1ConnectionState(uint32_t connection) {
  return ActiveNetwork().ConnectionStateOf(connection);
}

uint16_t TAV_H1_CALL H1RestartConnection(uint32_t connection) {
  return ActiveNetwork().RestartConnection(connection);
}

uint16_t TAV_H1_CALL H1ReleaseConnection(uint32_t connection) {
  return ActiveNetwork().ReleaseConnection(connection);
}

uint16_t TAV_H1_CALL H1SendReadRequest(void* requestRecord) {
  return ActiveNetwork().SendReadRequest(requestRecord);
}

uint16_t TAV_H1_CALL H1ReceiveReadData(uint32_t bufferSize, void* buffer, uint16_t* statusWord,
                                       uint32_t connection) {
  return ActiveNetwork().ReceiveReadData(bufferSize, buffer, statusWord, connection);
}

uint16_t TAV_H1_CALL H1SendWriteRequest(void* requestRecord, void* buffer) {
  return ActiveNetwork().SendWriteRequest(requestRecord, buffer);
}

uint16_t TAV_H1_CALL H1ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t connection) {
  return ActiveNetwork().ReceiveWriteAcknowledge(statusWord, connection);
}

}  // extern "C"
