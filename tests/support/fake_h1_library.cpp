#include "support/fake_h1_library.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "abi/driver_instance.h"
#include "h1_front/records.h"
#include "platform/h1_library.h"
#include "support/h1_shims.h"

namespace tav::fake {

namespace {

std::vector<uint8_t> Bytes(const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  return {bytes, bytes + size};
}

uint16_t Simple(H1Op op, uint32_t connection = 0) {
  return H1().Take({.op = op, .connection = connection}).result;
}

uint16_t Open(H1Op op, void* connectRecord, uint32_t argument) {
  H1Call call{.op = op, .record = Bytes(connectRecord, kConnectRecordBytes), .argument = argument};
  const H1Answer answer = H1().Take(call);
  const uint16_t connection = answer.connection ? *answer.connection : H1().NextConnection();
  front::AnswerConnectRecord(connectRecord, connection, answer.statusWord);
  return answer.result;
}

}  // namespace

void FakeH1Library::Reset() {
  *this = FakeH1Library();
}

FakeH1Library& FakeH1Library::Answer(H1Op op, const H1Answer& answer, int times) {
  for (int i = 0; i < times; ++i) queued_[op].push_back(answer);
  return *this;
}

FakeH1Library& FakeH1Library::Respond(H1Op op, H1Responder responder) {
  responders_[op] = std::move(responder);
  return *this;
}

std::vector<H1Call> FakeH1Library::CallsOf(H1Op op) const {
  std::vector<H1Call> selected;
  std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(selected),
               [op](const H1Call& call) { return call.op == op; });
  return selected;
}

int FakeH1Library::CountOf(H1Op op) const {
  return static_cast<int>(std::count_if(calls_.begin(), calls_.end(),
                                        [op](const H1Call& call) { return call.op == op; }));
}

std::vector<H1Op> FakeH1Library::Sequence() const {
  std::vector<H1Op> ops;
  for (const H1Call& call : calls_) ops.push_back(call.op);
  return ops;
}

H1Answer FakeH1Library::Take(const H1Call& call) {
  calls_.push_back(call);
  if (auto queue = queued_.find(call.op); queue != queued_.end() && !queue->second.empty()) {
    H1Answer answer = queue->second.front();
    queue->second.pop_front();
    return answer;
  }
  if (auto responder = responders_.find(call.op); responder != responders_.end()) {
    return responder->second(call);
  }
  return {};
}

FakeH1Library& H1() {
  static FakeH1Library library;
  return library;
}

namespace {

// The eleven operations: each call recorded, its answer taken from the script.
uint16_t TAV_H1_CALL OpenDriver(void) {
  return Simple(H1Op::kOpenDriver);
}
uint16_t TAV_H1_CALL CloseDriver(void) {
  return Simple(H1Op::kCloseDriver);
}
uint16_t TAV_H1_CALL OpenS5Connection(void* connectRecord) {
  return Open(H1Op::kOpenS5Connection, connectRecord, 0);
}
uint16_t TAV_H1_CALL OpenS7Connection(void* connectRecord, uint32_t reserved) {
  return Open(H1Op::kOpenS7Connection, connectRecord, reserved);
}
uint16_t TAV_H1_CALL ConnectionState(uint32_t connection) {
  return Simple(H1Op::kConnectionState, connection);
}
uint16_t TAV_H1_CALL RestartConnection(uint32_t connection) {
  return Simple(H1Op::kRestartConnection, connection);
}
uint16_t TAV_H1_CALL ReleaseConnection(uint32_t connection) {
  return Simple(H1Op::kReleaseConnection, connection);
}

uint16_t TAV_H1_CALL SendReadRequest(void* requestRecord) {
  return H1()
      .Take({.op = H1Op::kSendReadRequest, .record = Bytes(requestRecord, kRequestRecordBytes)})
      .result;
}

uint16_t TAV_H1_CALL ReceiveReadData(uint32_t bufferSize, void* buffer, uint16_t* statusWord,
                                     uint32_t connection) {
  const H1Answer answer =
      H1().Take({.op = H1Op::kReceiveReadData, .connection = connection, .argument = bufferSize});
  if (!answer.data.empty()) {
    std::memcpy(buffer, answer.data.data(), std::min<size_t>(answer.data.size(), bufferSize));
  }
  *statusWord = answer.statusWord;
  return answer.result;
}

uint16_t TAV_H1_CALL SendWriteRequest(void* requestRecord, void* buffer) {
  return H1()
      .Take({.op = H1Op::kSendWriteRequest,
             .record = Bytes(requestRecord, kRequestRecordBytes),
             .buffer = Bytes(buffer, kTransferBufferSize)})
      .result;
}

uint16_t TAV_H1_CALL ReceiveWriteAcknowledge(uint16_t* statusWord, uint32_t connection) {
  const H1Answer answer =
      H1().Take({.op = H1Op::kReceiveWriteAcknowledge, .connection = connection});
  *statusWord = answer.statusWord;
  return answer.result;
}

// Every program that links the fakes talks to this library from its start.
[[maybe_unused]] const bool installed = [] {
  testing::InstallH1Library({.openDriver = OpenDriver,
                             .closeDriver = CloseDriver,
                             .openS5 = OpenS5Connection,
                             .openS7 = OpenS7Connection,
                             .state = ConnectionState,
                             .restart = RestartConnection,
                             .release = ReleaseConnection,
                             .sendRead = SendReadRequest,
                             .receiveRead = ReceiveReadData,
                             .sendWrite = SendWriteRequest,
                             .receiveWrite = ReceiveWriteAcknowledge});
  return true;
}();

}  // namespace
}  // namespace tav::fake
