#include "support/instant_h1_library.h"

#include "h1_front/records.h"
#include "platform/h1_library.h"
#include "platform/h1_records.h"
#include "platform/host_log.h"
#include "platform/sleep.h"
#include "support/h1_shims.h"

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

uint16_t TAV_H1_CALL Open(void* connectRecord) {
  front::AnswerConnectRecord(connectRecord, 1, h1::kConnectDone);
  return Count(0);
}

uint16_t TAV_H1_CALL Done(void) {
  return Count(0);
}
uint16_t TAV_H1_CALL OpenS7(void* connectRecord, uint32_t) {
  return Open(connectRecord);
}
uint16_t TAV_H1_CALL OnConnection(uint32_t) {
  return Count(0);
}
uint16_t TAV_H1_CALL SendReadRequest(void*) {
  return Count(Script().sendRead);
}
uint16_t TAV_H1_CALL ReceiveReadData(uint32_t, void*, uint16_t* statusWord, uint32_t) {
  *statusWord = Script().readStatusWord;
  return Count(Script().receiveRead);
}
uint16_t TAV_H1_CALL SendWriteRequest(void*, void*) {
  return Count(Script().sendWrite);
}
uint16_t TAV_H1_CALL ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t) {
  *statusWord = Script().writeStatusWord;
  return Count(Script().acknowledge);
}

// Every program that links this library talks to it from its start.
[[maybe_unused]] const bool installed = [] {
  testing::InstallH1Library({.openDriver = Done,
                             .closeDriver = Done,
                             .openS5 = Open,
                             .openS7 = OpenS7,
                             .state = OnConnection,
                             .restart = OnConnection,
                             .release = OnConnection,
                             .sendRead = SendReadRequest,
                             .receiveRead = ReceiveReadData,
                             .sendWrite = SendWriteRequest,
                             .receiveWrite = ReceiveWriteAcknowledge});
  return true;
}();

}  // namespace
}  // namespace tav::instant

extern "C" {

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
