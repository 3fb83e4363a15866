// The closed H1 driver library that drives the Industrial Ethernet adapter. The DLL imports these
// operations by ordinal (given beside each); on Linux the loading process or a library it loaded
// (the simulated H1 network, a test fake) provides them. Every operation returns a 16-bit result,
// 0 for success. Records are passed by pointer; a connection identifier travels in the low 16 bits
// of a 32-bit argument.
#pragma once

#include <cstdint>

// The library's calling convention; the build defines it for Windows, Linux uses cdecl.
#ifndef TAV_H1_CALL
#define TAV_H1_CALL
#endif

extern "C" {
uint16_t TAV_H1_CALL H1OpenDriver(void);                                          // 302
uint16_t TAV_H1_CALL H1CloseDriver(void);                                         // 303
uint16_t TAV_H1_CALL H1OpenS5Connection(void* connectRecord);                     // 100
uint16_t TAV_H1_CALL H1OpenS7Connection(void* connectRecord, uint32_t reserved);  // 164
uint16_t TAV_H1_CALL H1ConnectionState(uint32_t connection);                      // 124
uint16_t TAV_H1_CALL H1RestartConnection(uint32_t connection);                    // 125
uint16_t TAV_H1_CALL H1ReleaseConnection(uint32_t connection);                    // 101
uint16_t TAV_H1_CALL H1SendReadRequest(void* requestRecord);                      // 103
uint16_t TAV_H1_CALL H1ReceiveReadData(uint32_t bufferSize, void* buffer, uint16_t* statusWord,
                                       uint32_t connection);                                // 104
uint16_t TAV_H1_CALL H1SendWriteRequest(void* requestRecord, void* buffer);                 // 106
uint16_t TAV_H1_CALL H1ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t connection);  // 107
}

namespace tav {

// The eleven operations of one H1 library, for a program that binds them at run time and hands
// calls on to them (tavhost to libh1tcp on Linux, the simulated network's DLL to libh1tcp's DLL on
// Windows).
struct H1Operations {
  decltype(&H1OpenDriver) openDriver = nullptr;
  decltype(&H1CloseDriver) closeDriver = nullptr;
  decltype(&H1OpenS5Connection) openS5 = nullptr;
  decltype(&H1OpenS7Connection) openS7 = nullptr;
  decltype(&H1ConnectionState) state = nullptr;
  decltype(&H1RestartConnection) restart = nullptr;
  decltype(&H1ReleaseConnection) release = nullptr;
  decltype(&H1SendReadRequest) sendRead = nullptr;
  decltype(&H1ReceiveReadData) receiveRead = nullptr;
  decltype(&H1SendWriteRequest) sendWrite = nullptr;
  decltype(&H1ReceiveWriteAcknowledge) receiveWrite = nullptr;
};

}  // namespace tav
