#include "connection.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "abi/driver_instance.h"
#include "results.h"

namespace tav::h1tcp {

namespace {

constexpr size_t kReadChunkBytes = 16 * 1024;
constexpr size_t kMaxMessageBytes = 64 * 1024;  // no answer of ours is longer
constexpr uint16_t kSmallestPdu = 64;           // below it a request carries hardly any data

// Words of word-addressed data blocks are high byte first on the wire and low byte first in
// the transfer buffer.
void SwapWords(uint8_t* bytes, size_t size) {
  for (size_t i = 0; i + 1 < size; i += 2) std::swap(bytes[i], bytes[i + 1]);
}

struct AreaPlan {
  uint16_t areaKind;
  uint8_t s7Area;  // 0: no S7 equivalent
  uint8_t s5Org;
  bool dataBlock;
};
constexpr AreaPlan kAreas[] = {
    {static_cast<uint16_t>(AreaKind::kDataBlock), kS7AreaDataBlock, kS5OrgDataBlock, true},
    {static_cast<uint16_t>(AreaKind::kExtendedDataBlock), 0, kS5OrgExtendedDataBlock, true},
    {static_cast<uint16_t>(AreaKind::kFlags), kS7AreaFlags, kS5OrgFlags, false},
    {static_cast<uint16_t>(AreaKind::kInputs), kS7AreaInputs, kS5OrgInputs, false},
    {static_cast<uint16_t>(AreaKind::kOutputs), kS7AreaOutputs, kS5OrgOutputs, false},
};

const AreaPlan* AreaOf(uint16_t areaKind) {
  for (const AreaPlan& plan : kAreas) {
    if (plan.areaKind == areaKind) return &plan;
  }
  return nullptr;
}

}  // namespace

Connection::Connection(const Route* route, Role role, Bytes localTsap, Bytes remoteTsap)
    : role_(role), localTsap_(std::move(localTsap)), remoteTsap_(std::move(remoteTsap)) {
  if (route != nullptr) route_ = *route;
}

Connection::~Connection() {
  CloseSocket(socket_);
}

bool Connection::IsIso() const {
  return route_->protocol != Protocol::kS5Tcp;
}

bool Connection::IsS7() const {
  return route_->protocol == Protocol::kS7 || route_->protocol == Protocol::kS7Words;
}

void Connection::Start() {
  CloseSocket(socket_);
  socket_ = kNoSocket;
  out_.clear();
  outAt_ = 0;
  in_.clear();
  inAt_ = 0;
  tsdu_.clear();
  read_.reset();
  write_.reset();
  sent_.clear();
  refused_ = false;
  if (!route_) {
    phase_ = Phase::kNoRoute;
    return;
  }
  if (IsS7() != (role_ == Role::kS7)) {
    phase_ = Phase::kWrongProtocol;
    return;
  }
  Connect();
}

void Connection::Connect() {
  refused_ = false;
  const uint16_t port =
      role_ == Role::kS5Write && route_->writePort != 0 ? route_->writePort : route_->port;
  switch (StartConnect(route_->host, port, socket_)) {
    case Io::kDone:
      phase_ = Phase::kConnecting;
      if (!Advance()) FailSetUp(refused_);
      return;
    case Io::kWouldBlock:
      phase_ = Phase::kConnecting;
      return;
    case Io::kClosed:
    case Io::kFailed:
      FailSetUp(false);
      return;
  }
}

void Connection::FailSetUp(bool refused) {
  CloseSocket(socket_);
  socket_ = kNoSocket;
  out_.clear();
  outAt_ = 0;
  in_.clear();
  inAt_ = 0;
  tsdu_.clear();
  refused_ = refused;
  phase_ = Phase::kRetryWait;
  retryAt_ = NowMilliseconds() + kRetryMilliseconds;
}

void Connection::Break() {
  CloseSocket(socket_);
  socket_ = kNoSocket;
  read_.reset();
  write_.reset();
  sent_.clear();
  phase_ = Phase::kBroken;
}

uint16_t Connection::NotReady() const {
  switch (phase_) {
    case Phase::kEstablished:
      return kOk;
    case Phase::kBroken:
      return kConnectionBroken;
    case Phase::kWrongProtocol:
      return kRejected;
    case Phase::kRetryWait:
      return refused_ ? kRejected : kNotEstablished;
    case Phase::kNoRoute:
    case Phase::kConnecting:
    case Phase::kIsoConnecting:
    case Phase::kS7Setup:
      break;
  }
  return kNotEstablished;
}

bool Connection::Advance() {
  if (phase_ == Phase::kConnecting) {
    // The socket turns writable when the connect has finished, well or not.
    if (!Wait(socket_, true, 0)) return true;
    const Io connected = FinishConnect(socket_);
    if (connected == Io::kWouldBlock) return true;
    if (connected != Io::kDone) return false;
    if (!IsIso()) {
      phase_ = Phase::kEstablished;
      return true;
    }
    const Bytes request = ConnectionRequest(localTsap_, remoteTsap_, 1);
    out_.insert(out_.end(), request.begin(), request.end());
    phase_ = Phase::kIsoConnecting;
  }
  if (!Flush()) return false;
  // What came before a close counts: a station that refuses sends its disconnect and closes.
  const bool open = ReadInput();
  return TakeInput() && open;
}

uint16_t Connection::State() {
  if (phase_ == Phase::kRetryWait && NowMilliseconds() >= retryAt_) Connect();
  const auto settingUp = [this] {
    return phase_ == Phase::kConnecting || phase_ == Phase::kIsoConnecting ||
           phase_ == Phase::kS7Setup;
  };
  while (settingUp()) {
    if (!Advance()) {
      FailSetUp(refused_);
      break;
    }
    if (!settingUp()) break;
    const bool write = phase_ == Phase::kConnecting || outAt_ < out_.size();
    if (!Wait(socket_, write, kPauseMilliseconds)) break;
  }
  return NotReady();
}

void Connection::Queue(const Bytes& payload) {
  if (outAt_ == out_.size()) {
    out_.clear();
    outAt_ = 0;
  }
  if (IsIso()) {
    const Bytes frames = DataTpdus(payload, tpduBytes_);
    out_.insert(out_.end(), frames.begin(), frames.end());
  } else {
    out_.insert(out_.end(), payload.begin(), payload.end());
  }
}

bool Connection::Flush() {
  while (outAt_ < out_.size()) {
    size_t sent = 0;
    const Io io = SendSome(socket_, out_.data() + outAt_, out_.size() - outAt_, sent);
    if (io == Io::kWouldBlock) return true;
    if (io != Io::kDone) return false;
    outAt_ += sent;
  }
  return true;
}

bool Connection::ReadInput() {
  if (inAt_ > 0 && inAt_ == in_.size()) {
    in_.clear();
    inAt_ = 0;
  }
  // Received into a buffer of its own, so that no receive clears a chunk's worth of in_ first.
  if (!chunk_) chunk_ = std::make_unique_for_overwrite<uint8_t[]>(kReadChunkBytes);
  for (;;) {
    size_t received = 0;
    const Io io = ReceiveSome(socket_, chunk_.get(), kReadChunkBytes, received);
    in_.insert(in_.end(), chunk_.get(), chunk_.get() + received);
    if (io == Io::kWouldBlock) return true;
    if (io != Io::kDone) return false;
    if (received < kReadChunkBytes) return true;
  }
}

bool Connection::TakeInput() {
  const bool taken = IsIso() ? TakeIsoInput() : TakeS5TcpInput();
  if (inAt_ == in_.size()) {
    in_.clear();
    inAt_ = 0;
  }
  return taken;
}

bool Connection::TakeIsoInput() {
  for (;;) {
    const ByteView waiting(in_.data() + inAt_, in_.size() - inAt_);
    const std::optional<size_t> size = TpktPacketBytes(waiting);
    if (!size) return false;
    if (*size == 0 || *size > waiting.size()) return true;
    const std::optional<Tpdu> tpdu = ParseTpdu(waiting.first(*size));
    if (!tpdu) return false;
    inAt_ += *size;
    switch (tpdu->kind) {
      case TpduKind::kConnectionConfirm:
        if (phase_ != Phase::kIsoConnecting) return false;
        if (tpdu->maxTpduBytes != 0) tpduBytes_ = tpdu->maxTpduBytes;
        if (!IsS7()) {
          phase_ = Phase::kEstablished;
          break;
        }
        Queue(S7SetupRequest(nextReference_++, route_->parallelJobs, route_->pduBytes));
        if (!Flush()) return false;
        phase_ = Phase::kS7Setup;
        break;
      case TpduKind::kDisconnect:
        refused_ = phase_ == Phase::kIsoConnecting;
        return false;
      case TpduKind::kData:
        if (phase_ != Phase::kS7Setup && phase_ != Phase::kEstablished) return false;
        if (tsdu_.size() + tpdu->payload.size() > kMaxMessageBytes) return false;
        tsdu_.insert(tsdu_.end(), tpdu->payload.begin(), tpdu->payload.end());
        if (tpdu->endOfTsdu) {
          const Bytes message = std::move(tsdu_);
          tsdu_.clear();
          if (!OnMessage(message)) return false;
        }
        break;
      case TpduKind::kOther:
        break;
    }
  }
}

bool Connection::TakeS5TcpInput() {
  for (;;) {
    const ByteView waiting(in_.data() + inAt_, in_.size() - inAt_);
    if (waiting.size() < kS5HeaderBytes) return true;
    // Nothing may arrive that was not asked for: the answer's length depends on the request.
    if (sent_.empty()) return false;
    const std::optional<S5Answer> answer = ParseS5AnswerHeader(waiting);
    if (!answer) return false;
    const size_t data =
        answer->opcode == S5Opcode::kFetchAck && answer->error == 0 ? sent_.front().expectBytes : 0;
    if (waiting.size() < kS5HeaderBytes + data) return true;
    inAt_ += kS5HeaderBytes + data;
    if (!OnS5Answer(waiting.first(kS5HeaderBytes), waiting.subspan(kS5HeaderBytes, data))) {
      return false;
    }
  }
}

bool Connection::OnMessage(ByteView message) {
  if (IsS7()) return OnS7Answer(message);
  if (message.size() < kS5HeaderBytes) return false;
  return OnS5Answer(message.first(kS5HeaderBytes), message.subspan(kS5HeaderBytes));
}

Connection::Job* Connection::JobOf(const Sent& sent) {
  std::optional<Job>& job = sent.write ? write_ : read_;
  return job && job->generation == sent.generation ? &*job : nullptr;
}

bool Connection::OnS7Answer(ByteView pdu) {
  const std::optional<S7Answer> answer = ParseS7Answer(pdu);
  if (!answer) return false;
  if (phase_ == Phase::kS7Setup) {
    if (answer->error != 0 || answer->function != S7Function::kSetup ||
        answer->pduBytes < kSmallestPdu) {
      refused_ = true;
      return false;
    }
    pduBytes_ = std::min(answer->pduBytes, route_->pduBytes);
    parallelJobs_ = std::clamp<uint16_t>(answer->parallelJobs, 1, route_->parallelJobs);
    phase_ = Phase::kEstablished;
    return true;
  }
  const auto sent = std::find_if(sent_.begin(), sent_.end(), [&](const Sent& entry) {
    return entry.reference == answer->reference;
  });
  if (sent == sent_.end()) return false;  // an answer to nothing we asked
  const Sent entry = *sent;
  sent_.erase(sent);
  Job* job = JobOf(entry);
  if (job == nullptr) return true;  // the job was abandoned
  const S7Function expected = entry.write ? S7Function::kWrite : S7Function::kRead;
  if (answer->error != 0) {
    job->status = answer->error;
    return true;
  }
  if (answer->function != expected) return false;
  const uint16_t status = StatusOfS7Item(answer->itemCode);
  if (status != kStatusGood) {
    job->status = status;
    return true;
  }
  if (!entry.write) {
    // The request decides how much reaches the transfer buffer.
    if (answer->data.size() != entry.expectBytes) return false;
    std::copy(answer->data.begin(), answer->data.end(),
              job->data.begin() + static_cast<ptrdiff_t>(entry.chunk * job->chunkBytes));
  }
  if (++job->answeredChunks == job->chunks) job->status = kStatusGood;
  return true;
}

bool Connection::OnS5Answer(ByteView header, ByteView data) {
  if (sent_.empty()) return false;
  const std::optional<S5Answer> answer = ParseS5AnswerHeader(header);
  if (!answer) return false;
  const Sent entry = sent_.front();
  sent_.pop_front();
  const S5Opcode expected = entry.write ? S5Opcode::kWriteAck : S5Opcode::kFetchAck;
  if (answer->opcode != expected) return false;
  const uint16_t status = StatusOfS5Error(answer->error);
  if (status == kStatusGood && data.size() != (entry.write ? 0 : entry.expectBytes)) return false;
  Job* job = JobOf(entry);
  if (job == nullptr) return true;
  if (status == kStatusGood && !entry.write) std::copy(data.begin(), data.end(), job->data.begin());
  job->answeredChunks = 1;
  job->status = status;
  return true;
}

void Connection::Plan(const RequestRecord& request, Job& job) const {
  const AreaPlan* area = AreaOf(request.areaKind);
  const bool s7 = IsS7();
  if (area == nullptr || (s7 && area->s7Area == 0) ||
      (!s7 && area->dataBlock && request.blockNumber > 0xFF)) {
    job.status = kStatusNoSuchArea;
    return;
  }
  // Data blocks of S5 memory count words; everything else counts bytes.
  const bool words = area->dataBlock && route_->protocol != Protocol::kS7;
  const uint32_t unit = words ? 2 : 1;
  const uint32_t bytes = uint32_t{request.length} * unit;
  if (bytes > kTransferBufferSize) {
    job.status = kStatusTooLong;
    return;
  }
  job.swapWords = words;
  job.data.assign(bytes, 0);
  if (bytes == 0) {
    job.status = kStatusGood;
    return;
  }
  if (!s7) {
    job.s5 = {job.write ? S5Opcode::kWrite : S5Opcode::kFetch, area->s5Org,
              static_cast<uint8_t>(request.blockNumber), request.start, request.length};
    job.chunkBytes = bytes;
    job.chunks = 1;
    return;
  }
  job.s7 = {area->s7Area, area->dataBlock ? request.blockNumber : uint16_t{0},
            uint32_t{request.start} * unit, static_cast<uint16_t>(bytes)};
  const size_t overhead = job.write ? kS7WriteOverhead : kS7ReadOverhead;
  job.chunkBytes = static_cast<uint32_t>(pduBytes_ - overhead);
  job.chunks = (bytes + job.chunkBytes - 1) / job.chunkBytes;
}

uint16_t Connection::SendRead(const RequestRecord& request) {
  return Send(request, false, nullptr);
}

uint16_t Connection::SendWrite(const RequestRecord& request, const uint8_t* buffer) {
  return Send(request, true, buffer);
}

uint16_t Connection::Send(const RequestRecord& request, bool write, const uint8_t* buffer) {
  if (const uint16_t notReady = NotReady(); notReady != kOk) return notReady;
  // A station that closed or reset the connection since the last exchange: say so now rather
  // than after a request into the void.
  if (!ReadInput() || !TakeInput()) {
    Break();
    return kConnectionBroken;
  }
  Job job;
  job.generation = nextGeneration_++;
  job.write = write;
  Plan(request, job);
  if (write && !job.status) {
    if (buffer == nullptr) return kBadArgument;
    std::copy(buffer, buffer + job.data.size(), job.data.begin());
    if (job.swapWords) SwapWords(job.data.data(), job.data.size());
  }
  // A job sent again replaces the earlier one, whose answers are then dropped.
  (write ? write_ : read_) = std::move(job);
  SendChunks();
  if (!Flush()) {
    Break();
    return kConnectionBroken;
  }
  return kOk;
}

void Connection::SendChunks() {
  const size_t window = IsS7() ? parallelJobs_ : SIZE_MAX;
  for (std::optional<Job>* job : {&read_, &write_}) {
    while (*job && !(*job)->status && (*job)->sentChunks < (*job)->chunks &&
           sent_.size() < window) {
      SendChunk(**job);
    }
  }
}

void Connection::SendChunk(Job& job) {
  Sent sent{nextReference_++, job.generation, job.sentChunks, 0, job.write};
  const uint32_t offset = job.sentChunks * job.chunkBytes;
  const uint32_t bytes = std::min(job.chunkBytes, static_cast<uint32_t>(job.data.size()) - offset);
  const ByteView data(job.data.data() + offset, job.write ? bytes : 0);
  if (IsS7()) {
    S7Item item = job.s7;
    item.byteAddress += offset;
    item.bytes = static_cast<uint16_t>(bytes);
    Queue(job.write ? S7WriteRequest(sent.reference, item, data)
                    : S7ReadRequest(sent.reference, item));
  } else {
    Bytes frame = S5RequestHeader(job.s5);
    frame.insert(frame.end(), data.begin(), data.end());
    Queue(frame);
  }
  sent.expectBytes = job.write ? 0 : bytes;
  sent_.push_back(sent);
  ++job.sentChunks;
}

void Connection::Collect(const std::optional<Job>& job) {
  // The wait comes first: poll() returns at once when something has arrived, whereas a receive
  // right after the request would mostly find nothing and cost a system call. What came earlier
  // has been taken already: every operation that reads the socket takes all it completes.
  while (Wait(socket_, outAt_ < out_.size(), kPauseMilliseconds)) {
    if (!ReadInput() || !TakeInput()) {
      Break();
      return;
    }
    if (!job || job->status) return;
    // The answers just taken made room for further requests: they go out before the wait, or
    // the station would have nothing to answer within it.
    SendChunks();
    if (!Flush()) {
      Break();
      return;
    }
  }
}

uint16_t Connection::Deliver(std::optional<Job>& job, uint16_t& statusWord,
                             std::span<uint8_t> buffer) {
  if (const uint16_t notReady = NotReady(); notReady != kOk) return notReady;
  if (!job) return kNoRequest;
  if (!job->status) Collect(job);
  if (const uint16_t notReady = NotReady(); notReady != kOk) return notReady;
  if (!job->status) return job->answeredChunks > 0 ? kReceiving : kNoData;
  statusWord = *job->status;
  if (statusWord == kStatusGood && !job->write) {
    if (job->data.size() > buffer.size()) {
      statusWord = kStatusTooLong;
    } else {
      if (job->swapWords) SwapWords(job->data.data(), job->data.size());
      std::copy(job->data.begin(), job->data.end(), buffer.begin());
    }
  }
  job.reset();
  return kOk;
}

uint16_t Connection::ReceiveRead(uint32_t bufferSize, uint8_t* buffer, uint16_t& statusWord) {
  return Deliver(read_, statusWord, {buffer, buffer == nullptr ? 0 : bufferSize});
}

uint16_t Connection::ReceiveWriteAcknowledge(uint16_t& statusWord) {
  return Deliver(write_, statusWord, {});
}

}  // namespace tav::h1tcp
