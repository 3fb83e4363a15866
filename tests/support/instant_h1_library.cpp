#include "support/instant_h1_library.h"

#include "platform/h1_library.h"
#include "platform/h1_records.h"
#include "platform/host_log.h"
#include "platform/sleep.h"

namespace tav::instant {

Answers& Script() {
  static Answers answers;
  return answers;
}

Counts& Counters() {
  static Counts counts;
  return counts;
}

void Reset() {
  Script() = {};
  Counters() = {};
}

namespace {

uint16_t Count(uint16_t result) {
  ++Counters().h1Calls;
  return result;
}

uint16_t Open(void* connectRecord) {
  auto* record = static_cast<ConnectRecord*>(connectRecord);
  record->connection = 1;
  record->statusWord = 0;
  return Count(0);
}

}  // namespace
}  // namespace tav::instant

using tav::instant::Count;
using tav::instant::Script;

extern "C" {

uint16_t TAV_H1_CALL H1OpenDriver(void) {
  return Count(0);
}
uint16_t TAV_H1_CALL H1CloseDriver(void) {
  return Count(0);
}
uint16_t TAV_H1_CALL H1OpenS5Connection(void* connectRecord) {
  return tav::instant::Open(connectRecord);
}
uint16_t TAV_H1_CALL H1OpenS7Connection(void* connectRecord, uint32_t) {
  return tav::instant::Open(connectRecord);
}
uint16_t TAV_H1_CALL H1ConnectionState(uint32_t) {
  return Count(0);
}
uint16_t TAV_H1_CALL H1RestartConnection(uint32_t) {
  return Count(0);
}
uint16_t TAV_H1_CALL H1ReleaseConnection(uint32_t) {
  return Count(0);
}
uint16_t TAV_H1_CALL H1SendReadRequest(void*) {
  return Count(Script().sendRead);
}
uint16_t TAV_H1_CALL H1ReceiveReadData(uint32_t, void*, uint16_t* statusWord, uint32_t) {
  *statusWord = Script().readStatusWord;
  return Count(Script().receiveRead);
}
uint16_t TAV_H1_CALL H1SendWriteRequest(void*, void*) {
  return Count(Script().sendWrite);
}
uint16_t TAV_H1_CALL H1ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t) {
  *statusWord = Script().writeStatusWord;
  return Count(Script().acknowledge);
}

void err(int32_t, const char* format, ...) {
  ++tav::instant::Counters().logLines;
  tav::instant::Counters().lastFormat = format;
}

}  // extern "C"

namespace tav {

void SleepMilliseconds(uint32_t) {
  ++instant::Counters().sleeps;
}

}  // namespace tav
