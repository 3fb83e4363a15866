#include "plc_sessions/session.h"

#include <algorithm>
#include <utility>

#include "abi/driver_instance.h"

namespace tav::sessions {

namespace {

constexpr uint16_t kSmallestPdu = 64;  // below it a request carries hardly any data

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

// The job's bytes for a request of `unit` bytes an element; false when the job is decided.
template <typename Job>
bool Size(const RequestRecord& request, uint32_t unit, Job& job) {
  const uint32_t bytes = uint32_t{request.length} * unit;
  if (bytes > kTransferBufferSize) {
    job.status = kStatusTooLong;
    return false;
  }
  job.swapWords = unit == 2;
  job.data.assign(bytes, 0);
  if (bytes == 0) {
    job.status = kStatusGood;
    return false;
  }
  return true;
}

// S7 communication: a setup first, then read var and write var, split to the PDU agreed, up to
// the parallel jobs agreed on the wire at once, answers matched by their reference.
class S7Session final : public Session {
 public:
  S7Session(const SessionSettings& settings, bool wordDataBlocks)
      : Session(settings), wordDataBlocks_(wordDataBlocks) {}

  void Open(MessageSink& sink) override {
    sink.Send(S7SetupRequest(nextReference_++, settings_.parallelJobs, settings_.pduBytes));
  }

  std::optional<size_t> MessageBytes(ByteView /*waiting*/) const override {
    return std::nullopt;  // S7 messages come delimited by their transport
  }

 private:
  void Plan(const RequestRecord& request, Job& job) const override {
    const AreaPlan* area = AreaOf(request.areaKind);
    if (area == nullptr || area->s7Area == 0) {
      job.status = kStatusNoSuchArea;
      return;
    }
    // Data blocks of S5 memory count words; everything else counts bytes.
    const uint32_t unit = area->dataBlock && wordDataBlocks_ ? 2 : 1;
    if (!Size(request, unit, job)) return;
    job.s7 = {area->s7Area, area->dataBlock ? request.blockNumber : uint16_t{0},
              uint32_t{request.start} * unit, static_cast<uint16_t>(job.data.size())};
    const size_t overhead = job.write ? kS7WriteOverhead : kS7ReadOverhead;
    job.chunkBytes = static_cast<uint32_t>(pduBytes_ - overhead);
    job.chunks = (static_cast<uint32_t>(job.data.size()) + job.chunkBytes - 1) / job.chunkBytes;
  }

  Bytes Request(const Job& job, const Sent& sent, uint32_t offset, uint32_t bytes) override {
    S7Item item = job.s7;
    item.byteAddress += offset;
    item.bytes = static_cast<uint16_t>(bytes);
    if (!job.write) return S7ReadRequest(sent.reference, item);
    return S7WriteRequest(sent.reference, item, ByteView(job.data).subspan(offset, bytes));
  }

  size_t Window() const override { return parallelJobs_; }

  Taken OnAnswer(ByteView message) override {
    const std::optional<S7Answer> answer = ParseS7Answer(message);
    if (!answer) return Taken::kBroken;
    return up_ ? OnTransfer(*answer) : OnSetup(*answer);
  }

  Taken OnSetup(const S7Answer& answer) {
    if (answer.error != 0 || answer.function != S7Function::kSetup ||
        answer.pduBytes < kSmallestPdu) {
      refusal_ = answer.error;
      return Taken::kRefused;
    }
    pduBytes_ = std::min(answer.pduBytes, settings_.pduBytes);
    parallelJobs_ = std::clamp<uint16_t>(answer.parallelJobs, 1, settings_.parallelJobs);
    up_ = true;
    return Taken::kFine;
  }

  Taken OnTransfer(const S7Answer& answer) {
    const auto sent = std::find_if(sent_.begin(), sent_.end(), [&](const Sent& entry) {
      return entry.reference == answer.reference;
    });
    if (sent == sent_.end()) return Taken::kBroken;  // an answer to nothing we asked
    const Sent entry = *sent;
    sent_.erase(sent);
    Job* job = JobOf(entry);
    if (job == nullptr) return Taken::kFine;  // the job was abandoned
    if (answer.error != 0) {
      job->status = answer.error;
      return Taken::kFine;
    }
    const S7Function expected = entry.write ? S7Function::kWrite : S7Function::kRead;
    if (answer.function != expected) return Taken::kBroken;
    const uint16_t status = StatusOfS7Item(answer.itemCode);
    if (status != kStatusGood) {
      job->status = status;
      return Taken::kFine;
    }
    if (!entry.write) {
      // The request decides how much reaches the transfer buffer.
      if (answer.data.size() != entry.expectBytes) return Taken::kBroken;
      std::copy(answer.data.begin(), answer.data.end(),
                job->data.begin() + static_cast<ptrdiff_t>(entry.chunk * job->chunkBytes));
    }
    if (++job->answeredChunks == job->chunks) job->status = kStatusGood;
    return Taken::kFine;
  }

  bool wordDataBlocks_;
};

// S5 fetch/write: one request per transfer, answered in the order asked, data block ranges in
// words.
class S5Session final : public Session {
 public:
  explicit S5Session(const SessionSettings& settings) : Session(settings) {}

  void Open(MessageSink& /*sink*/) override { up_ = true; }

  std::optional<size_t> MessageBytes(ByteView waiting) const override {
    if (waiting.size() < kS5HeaderBytes) return 0;
    // Nothing may arrive that was not asked for: the answer's length depends on the request.
    if (sent_.empty()) return std::nullopt;
    const std::optional<S5Answer> answer = ParseS5AnswerHeader(waiting);
    if (!answer) return std::nullopt;
    const size_t data =
        answer->opcode == S5Opcode::kFetchAck && answer->error == 0 ? sent_.front().expectBytes : 0;
    return waiting.size() < kS5HeaderBytes + data ? 0 : kS5HeaderBytes + data;
  }

 private:
  void Plan(const RequestRecord& request, Job& job) const override {
    const AreaPlan* area = AreaOf(request.areaKind);
    if (area == nullptr || (area->dataBlock && request.blockNumber > 0xFF)) {
      job.status = kStatusNoSuchArea;
      return;
    }
    if (!Size(request, area->dataBlock ? 2 : 1, job)) return;
    job.s5 = {job.write ? S5Opcode::kWrite : S5Opcode::kFetch, area->s5Org,
              static_cast<uint8_t>(request.blockNumber), request.start, request.length};
    job.chunkBytes = static_cast<uint32_t>(job.data.size());
    job.chunks = 1;
  }

  Bytes Request(const Job& job, const Sent& /*sent*/, uint32_t /*offset*/,
                uint32_t bytes) override {
    Bytes message = S5RequestHeader(job.s5);
    if (job.write) message.insert(message.end(), job.data.begin(), job.data.begin() + bytes);
    return message;
  }

  size_t Window() const override { return SIZE_MAX; }

  Taken OnAnswer(ByteView message) override {
    if (message.size() < kS5HeaderBytes || sent_.empty()) return Taken::kBroken;
    const std::optional<S5Answer> answer = ParseS5AnswerHeader(message);
    if (!answer) return Taken::kBroken;
    const ByteView data = message.subspan(kS5HeaderBytes);
    const Sent entry = sent_.front();
    sent_.pop_front();
    const S5Opcode expected = entry.write ? S5Opcode::kWriteAck : S5Opcode::kFetchAck;
    if (answer->opcode != expected) return Taken::kBroken;
    const uint16_t status = StatusOfS5Error(answer->error);
    if (status == kStatusGood && data.size() != (entry.write ? 0 : entry.expectBytes)) {
      return Taken::kBroken;
    }
    Job* job = JobOf(entry);
    if (job == nullptr) return Taken::kFine;
    if (status == kStatusGood && !entry.write) {
      std::copy(data.begin(), data.end(), job->data.begin());
    }
    job->answeredChunks = 1;
    job->status = status;
    return Taken::kFine;
  }
};

}  // namespace

void Session::Reset() {
  up_ = false;
  refusal_ = 0;
  read_.reset();
  write_.reset();
  sent_.clear();
}

Taken Session::Take(ByteView message) {
  return OnAnswer(message);
}

Session::Job* Session::JobOf(const Sent& sent) {
  std::optional<Job>& job = sent.write ? write_ : read_;
  return job && job->generation == sent.generation ? &*job : nullptr;
}

uint16_t Session::Send(const RequestRecord& request, bool write, const uint8_t* buffer,
                       MessageSink& sink) {
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
  SendMore(sink);
  return kOk;
}

void Session::SendMore(MessageSink& sink) {
  const size_t window = Window();
  for (std::optional<Job>* job : {&read_, &write_}) {
    while (*job && !(*job)->status && (*job)->sentChunks < (*job)->chunks &&
           sent_.size() < window) {
      SendChunk(**job, sink);
    }
  }
}

void Session::SendChunk(Job& job, MessageSink& sink) {
  Sent sent{nextReference_++, job.generation, job.sentChunks, 0, job.write};
  const uint32_t offset = job.sentChunks * job.chunkBytes;
  const uint32_t bytes = std::min(job.chunkBytes, static_cast<uint32_t>(job.data.size()) - offset);
  sink.Send(Request(job, sent, offset, bytes));
  sent.expectBytes = job.write ? 0 : bytes;
  sent_.push_back(sent);
  ++job.sentChunks;
}

bool Session::Awaiting(bool write) const {
  const std::optional<Job>& job = write ? write_ : read_;
  return job && !job->status;
}

uint16_t Session::Deliver(bool write, uint16_t& statusWord, std::span<uint8_t> buffer) {
  std::optional<Job>& job = write ? write_ : read_;
  if (!job) return kNoRequest;
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

std::unique_ptr<Session> MakeSession(Dialect dialect, const SessionSettings& settings) {
  if (dialect == Dialect::kS5) return std::make_unique<S5Session>(settings);
  return std::make_unique<S7Session>(settings, dialect == Dialect::kS7Words);
}

}  // namespace tav::sessions
