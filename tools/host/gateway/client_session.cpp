#include "gateway/client_session.h"

#include <fmt/core.h>

#include <algorithm>
#include <utility>

#include "plc_sessions/cotp.h"
#include "plc_sessions/frames.h"
#include "plc_sessions/tpkt.h"
#include "vocabulary/byte_order.h"

namespace tavhost::gateway {

namespace {

namespace cotp = tav::cotp;
namespace sessions = tav::sessions;
using sessions::S7Header;

constexpr cotp::Format kClass0;
constexpr uint8_t kSmallestSizeCode = 7;  // 128 bytes, class 0's default

// The functions of S7 jobs, as the sessions name them.
constexpr auto kFunctionSetup = static_cast<uint8_t>(sessions::S7Function::kSetup);
constexpr auto kFunctionRead = static_cast<uint8_t>(sessions::S7Function::kRead);
constexpr auto kFunctionWrite = static_cast<uint8_t>(sessions::S7Function::kWrite);
// What a refusal's header says: an access error, which clients report as a refused function.
constexpr uint16_t kS7AccessError = 0x8700;

// Userdata's parameter: head 00 01 12, length, method, type and group, subfunction, sequence.
struct UserDataParameter {
  static constexpr size_t kTypeGroupAt = 5;
  static constexpr size_t kSubfunctionAt = 6;
  static constexpr size_t kSequenceAt = 7;
  static constexpr size_t kRequestBytes = 8;
  static constexpr uint8_t kResponseType = 0x80;
};
// The userdata groups and subfunctions a read-only route passes: every subfunction of a group,
// or one.
struct UserDataRead {
  uint8_t group;
  std::optional<uint8_t> subfunction;
};
constexpr UserDataRead kUserDataReads[] = {
    {0x3, std::nullopt},  // block functions: block lists and block information
    {0x4, std::nullopt},  // CPU functions: SZL reads, the diagnostic messages
    {0x7, 0x01},          // time functions: read the clock
    {0x7, 0x03},          // read the clock (following)
};
constexpr uint8_t kUserDataReturnNoData = 0x0A;

uint8_t ParameterAt(ByteView pdu, size_t at) { return pdu[S7Header::kJobBytes + at]; }

size_t ParameterBytes(ByteView pdu) { return tav::LoadBe16(&pdu[S7Header::kParameterLengthAt]); }

bool WellFormedS7(ByteView pdu) {
  return pdu.size() >= S7Header::kJobBytes && pdu[0] == S7Header::kProtocolId &&
         S7Header::kJobBytes + ParameterBytes(pdu) +
                 tav::LoadBe16(&pdu[S7Header::kDataLengthAt]) ==
             pdu.size() &&
         ParameterBytes(pdu) >= 1;
}

bool UserDataReads(ByteView pdu) {
  if (ParameterBytes(pdu) < UserDataParameter::kRequestBytes) return false;
  const uint8_t group = ParameterAt(pdu, UserDataParameter::kTypeGroupAt) & 0x0F;
  const uint8_t subfunction = ParameterAt(pdu, UserDataParameter::kSubfunctionAt);
  return std::any_of(std::begin(kUserDataReads), std::end(kUserDataReads),
                     [&](const UserDataRead& read) {
                       return read.group == group &&
                              (!read.subfunction || *read.subfunction == subfunction);
                     });
}

Bytes S7AnswerHead(ByteView pdu, uint8_t type, size_t headerBytes, size_t parameterBytes,
                   size_t dataBytes) {
  Bytes answer(headerBytes, 0);
  answer[0] = S7Header::kProtocolId;
  answer[1] = type;
  std::copy_n(pdu.begin() + S7Header::kReferenceAt, 2, answer.begin() + S7Header::kReferenceAt);
  tav::StoreBe16(&answer[S7Header::kParameterLengthAt], static_cast<uint16_t>(parameterBytes));
  tav::StoreBe16(&answer[S7Header::kDataLengthAt], static_cast<uint16_t>(dataBytes));
  return answer;
}

// Write var refused item by item: every item's return code "access denied".
Bytes WriteRefusal(ByteView pdu) {
  const uint8_t items = ParameterBytes(pdu) >= 2 ? ParameterAt(pdu, 1) : 0;
  Bytes answer = S7AnswerHead(pdu, S7Header::kAckData, S7Header::kAckDataBytes, 2, items);
  answer.push_back(kFunctionWrite);
  answer.push_back(items);
  answer.insert(answer.end(), items, sessions::kS7ItemAccessDenied);
  return answer;
}

// Any other job: ack-data whose header carries the access error, its function echoed.
Bytes JobRefusal(ByteView pdu) {
  Bytes answer = S7AnswerHead(pdu, S7Header::kAckData, S7Header::kAckDataBytes, 1, 0);
  tav::StoreBe16(&answer[S7Header::kErrorAt], kS7AccessError);
  answer.push_back(ParameterAt(pdu, 0));
  return answer;
}

// Userdata answered as its response with the access error and no data.
Bytes UserDataRefusal(ByteView pdu) {
  constexpr size_t kResponseParameterBytes = 12;
  constexpr uint8_t kNoData[] = {kUserDataReturnNoData, 0x00, 0x00, 0x00};
  Bytes answer = S7AnswerHead(pdu, S7Header::kUserData, S7Header::kJobBytes,
                              kResponseParameterBytes, sizeof kNoData);
  const uint8_t group = ParameterAt(pdu, UserDataParameter::kTypeGroupAt) & 0x0F;
  const uint8_t parameter[kResponseParameterBytes] = {
      0x00, 0x01, 0x12, 0x08, 0x12, static_cast<uint8_t>(UserDataParameter::kResponseType | group),
      ParameterAt(pdu, UserDataParameter::kSubfunctionAt),
      ParameterAt(pdu, UserDataParameter::kSequenceAt), 0x00, 0x00,
      static_cast<uint8_t>(kS7AccessError >> 8), static_cast<uint8_t>(kS7AccessError & 0xFF)};
  answer.insert(answer.end(), std::begin(parameter), std::end(parameter));
  answer.insert(answer.end(), std::begin(kNoData), std::end(kNoData));
  return answer;
}

}  // namespace

bool S7OnlyReads(ByteView pdu) {
  if (!WellFormedS7(pdu)) return false;
  switch (pdu[1]) {
    case S7Header::kJob: {
      const uint8_t function = ParameterAt(pdu, 0);
      return function == kFunctionSetup || function == kFunctionRead;
    }
    case S7Header::kUserData:
      return UserDataReads(pdu);
    default:
      return false;
  }
}

std::optional<Bytes> S7Refusal(ByteView pdu) {
  if (!WellFormedS7(pdu)) return std::nullopt;
  switch (pdu[1]) {
    case S7Header::kJob:
      return ParameterAt(pdu, 0) == kFunctionWrite ? WriteRefusal(pdu) : JobRefusal(pdu);
    case S7Header::kUserData:
      if (ParameterBytes(pdu) < UserDataParameter::kRequestBytes) return std::nullopt;
      return UserDataRefusal(pdu);
    default:
      return std::nullopt;
  }
}

ClientSession::ClientSession(Protocol protocol, bool readOnly)
    : protocol_(protocol),
      readOnly_(readOnly),
      phase_(protocol == Protocol::kFetchWrite ? Phase::kAwaitingStation : Phase::kAwaitingCr),
      largest_(protocol == Protocol::kS7 ? kLargestS7Pdu : kLargestFetchWrite) {}

void ClientSession::TakeFromClient(ByteView bytes) {
  if (phase_ == Phase::kEnded) return;
  counters_.bytesFromClient += bytes.size();
  held_.insert(held_.end(), bytes.begin(), bytes.end());
  if (held_.size() > kMostHeldBytes) return End("sent more than it may before its answer");
  Process();
}

void ClientSession::StationOpen() {
  if (phase_ != Phase::kAwaitingStation) return;
  if (iso()) {
    cotp::Tpdu confirm;
    confirm.kind = cotp::Kind::kConnectionConfirm;
    confirm.destinationReference = clientReference_;
    confirm.sourceReference = 1;
    confirm.parameters.tpduSizeCode = sizeCode_;
    confirm.parameters.callingTsap = request_->callingTsap;
    confirm.parameters.calledTsap = request_->calledTsap;
    sessions::AppendTpktPacket(toClient_, cotp::Encode(confirm, kClass0));
  }
  phase_ = Phase::kOpen;
  Process();
}

void ClientSession::TakeFromStation(ByteView tsdu) {
  if (phase_ != Phase::kOpen) return;
  answerAwaited_ = false;
  AnswerClient(tsdu);
  Process();
}

void ClientSession::Disconnect() {
  if (!iso() || !request_ || phase_ == Phase::kEnded) return;
  cotp::Tpdu disconnect;
  disconnect.kind = cotp::Kind::kDisconnectRequest;
  disconnect.destinationReference = clientReference_;
  disconnect.sourceReference = 1;
  disconnect.reason = cotp::kReasonNormal;
  sessions::AppendTpktPacket(toClient_, cotp::Encode(disconnect, kClass0));
  End("disconnected by the gateway");
}

std::optional<ConnectRequest> ClientSession::TakeConnectRequest() {
  std::optional<ConnectRequest> request = std::move(pendingConnect_);
  pendingConnect_.reset();
  return request;
}

void ClientSession::Process() {
  while (phase_ == Phase::kAwaitingCr || (phase_ == Phase::kOpen && !answerAwaited_)) {
    if (!(iso() ? TakePacket() : TakeRequest())) return;
  }
}

// One TPKT packet from what the client sent; false while it is incomplete or the session ended.
bool ClientSession::TakePacket() {
  const std::optional<size_t> bytes = sessions::TpktPacketBytes(held_);
  if (!bytes) {
    End("sent no TPKT packet");
    return false;
  }
  const size_t largest = sessions::kTpktHeaderBytes + cotp::TpduBytesOf(kLargestClass0SizeCode);
  if (*bytes > largest) {
    End(fmt::format("sent a TPKT packet of {} bytes, at most {}", *bytes, largest));
    return false;
  }
  if (*bytes == 0 || held_.size() < *bytes) return false;
  const Bytes packet(held_.begin(), held_.begin() + static_cast<ptrdiff_t>(*bytes));
  held_.erase(held_.begin(), held_.begin() + static_cast<ptrdiff_t>(*bytes));
  const ByteView tpdu = ByteView(packet).subspan(sessions::kTpktHeaderBytes);
  const std::optional<cotp::Tpdu> decoded = cotp::Decode(tpdu, kClass0);
  if (!decoded) {
    End("sent a malformed TPDU");
    return false;
  }
  if (phase_ == Phase::kAwaitingCr) {
    if (decoded->kind != cotp::Kind::kConnectionRequest) {
      End("sent no connection request (CR)");
      return false;
    }
    TakeConnectionRequest(*decoded);
    return true;
  }
  switch (decoded->kind) {
    case cotp::Kind::kData:
      if (tsdu_.size() + decoded->userData.size() > largest_) {
        End(fmt::format("sent a message longer than {} bytes", largest_));
        return false;
      }
      tsdu_.insert(tsdu_.end(), decoded->userData.begin(), decoded->userData.end());
      if (decoded->endOfTsdu) TakeTsdu(std::exchange(tsdu_, {}));
      return phase_ != Phase::kEnded;
    case cotp::Kind::kDisconnectRequest:
      End("disconnected (DR)");
      return false;
    default:
      End(fmt::format("sent a TPDU class 0 does not carry (code 0x{:02X})",
                      static_cast<uint8_t>(decoded->kind)));
      return false;
  }
}

void ClientSession::TakeConnectionRequest(const cotp::Tpdu& request) {
  clientReference_ = request.sourceReference;
  sizeCode_ = std::clamp(request.parameters.tpduSizeCode.value_or(kSmallestSizeCode),
                         kSmallestSizeCode, kLargestClass0SizeCode);
  request_ = ConnectRequest{request.parameters.callingTsap.value_or(Bytes{}),
                            request.parameters.calledTsap.value_or(Bytes{})};
  pendingConnect_ = request_;
  phase_ = Phase::kAwaitingStation;
}

// One fetch/write request from a plain TCP stream; false while it is incomplete.
bool ClientSession::TakeRequest() {
  const std::optional<size_t> bytes = sessions::S5RequestBytes(held_);
  if (!bytes) {
    End("sent no fetch/write request header");
    return false;
  }
  if (*bytes > largest_) {
    End(fmt::format("sent a request of {} bytes, at most {}", *bytes, largest_));
    return false;
  }
  if (*bytes == 0 || held_.size() < *bytes) return false;
  Bytes message(held_.begin(), held_.begin() + static_cast<ptrdiff_t>(*bytes));
  held_.erase(held_.begin(), held_.begin() + static_cast<ptrdiff_t>(*bytes));
  TakeTsdu(std::move(message));
  return phase_ != Phase::kEnded;
}

void ClientSession::TakeTsdu(Bytes tsdu) {
  if (protocol_ == Protocol::kS7) return TakeS7(std::move(tsdu));
  TakeFetchWrite(std::move(tsdu));
}

void ClientSession::TakeS7(Bytes pdu) {
  if (readOnly_ && !S7OnlyReads(pdu)) {
    const std::optional<Bytes> refusal = S7Refusal(pdu);
    if (!refusal) return End("sent what is no S7 job to a read-only route");
    ++counters_.refusals;
    return AnswerClient(*refusal);
  }
  ++counters_.requests;
  toStation_.push_back({Channel::kMain, std::move(pdu)});
}

void ClientSession::TakeFetchWrite(Bytes message) {
  const std::optional<sessions::S5Request> request =
      message.size() >= sessions::kS5HeaderBytes
          ? sessions::ParseS5RequestHeader(ByteView(message).first(sessions::kS5HeaderBytes))
          : std::nullopt;
  if (!request || message.size() != sessions::kS5HeaderBytes +
                                        (request->opcode == sessions::S5Opcode::kWrite
                                             ? sessions::S5DataBytes(*request)
                                             : 0)) {
    return End("sent what is no fetch/write request");
  }
  if (request->opcode == sessions::S5Opcode::kWrite && readOnly_) {
    ++counters_.refusals;
    return AnswerClient(sessions::S5AnswerHeader(
        {sessions::S5Opcode::kWriteAck, sessions::kS5ErrorWriteRefused}));
  }
  ++counters_.requests;
  answerAwaited_ = true;
  const Channel channel =
      request->opcode == sessions::S5Opcode::kWrite ? Channel::kWrite : Channel::kMain;
  toStation_.push_back({channel, std::move(message)});
}

void ClientSession::AnswerClient(ByteView message) {
  const size_t before = toClient_.size();
  if (iso()) {
    const Bytes frames = sessions::DataTpdus(message, cotp::TpduBytesOf(sizeCode_));
    toClient_.insert(toClient_.end(), frames.begin(), frames.end());
  } else {
    toClient_.insert(toClient_.end(), message.begin(), message.end());
  }
  counters_.bytesToClient += toClient_.size() - before;
}

void ClientSession::End(std::string why) {
  phase_ = Phase::kEnded;
  held_.clear();
  tsdu_.clear();
  ended_ = std::move(why);
}

}  // namespace tavhost::gateway
