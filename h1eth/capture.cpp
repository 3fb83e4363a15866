#include "capture.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace tav::h1eth {

std::unique_ptr<PcapWriter> PcapWriter::Create(const std::string& path, Log log,
                                               std::string* problem) {
  std::string why;
  std::unique_ptr<OutputFile> file = OutputFile::Create(path, why);
  const PcapFileHeader header{kPcapMagicMicroseconds, 2, 4, 0, 0, kPcapSnapshotLength,
                              kPcapLinkTypeEthernet};
  if (file) {
    uint8_t bytes[sizeof header];
    std::memcpy(bytes, &header, sizeof header);
    if (file->Write(bytes, why) != WriteOutcome::kWritten) {
      if (why.empty()) why = "its reader does not take the file's header";
      file.reset();
    }
  }
  if (!file) {
    if (problem != nullptr) *problem = why;
    return nullptr;
  }
  return std::unique_ptr<PcapWriter>(new PcapWriter(std::move(file), path, std::move(log)));
}

PcapWriter::~PcapWriter() = default;

namespace {

int64_t WallClockMicroseconds() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

void PcapWriter::Write(FrameView frame, int64_t microsecondsSinceEpoch) {
  const std::lock_guard lock(mutex_);
  WriteRecord(frame, microsecondsSinceEpoch);
}

void PcapWriter::Write(FrameView frame) {
  Write(frame, WallClockMicroseconds());
}

bool PcapWriter::SendAndWrite(FrameView frame, const std::function<bool(FrameView)>& send) {
  const std::lock_guard lock(mutex_);
  const int64_t stamp = WallClockMicroseconds();
  const bool sent = send(frame);
  if (sent) WriteRecord(frame, stamp);
  return sent;
}

void PcapWriter::WriteRecord(FrameView frame, int64_t microsecondsSinceEpoch) {
  if (!file_) return;
  const auto bytes = static_cast<uint32_t>(std::min<size_t>(frame.size(), kPcapSnapshotLength));
  const PcapRecordHeader header{static_cast<uint32_t>(microsecondsSinceEpoch / 1'000'000),
                                static_cast<uint32_t>(microsecondsSinceEpoch % 1'000'000), bytes,
                                static_cast<uint32_t>(frame.size())};
  // Header and frame in one write: a FIFO takes a record of an Ethernet frame whole or not at all.
  record_.resize(sizeof header + bytes);
  std::memcpy(record_.data(), &header, sizeof header);
  std::copy_n(frame.data(), bytes, record_.data() + sizeof header);
  std::string detail;
  const WriteOutcome outcome = file_->Write(record_, detail);
  if (outcome == WriteOutcome::kWritten) return;
  file_.reset();
  if (!log_) return;
  const std::string what = outcome == WriteOutcome::kBehind ? "its reader does not keep up"
                           : outcome == WriteOutcome::kReaderGone
                               ? "its reader went away"
                               : "it cannot be written (" + detail + ")";
  log_("capture file " + path_ + " (TAV_H1_CAPTURE): " + what + "; capture closed");
}

bool CapturingLink::Send(FrameView frame) {
  return writer_->SendAndWrite(frame, [this](FrameView sent) { return link_->Send(sent); });
}

bool CapturingLink::Receive(FrameBytes& frame, int64_t waitMicroseconds) {
  const bool received = link_->Receive(frame, waitMicroseconds);
  if (received) writer_->Write(frame);
  return received;
}

std::unique_ptr<Link> CaptureWhenAsked(std::unique_ptr<Link> link, const std::string& path,
                                       const PcapWriter::Log& log) {
  if (path.empty()) return link;
  std::string problem;
  std::unique_ptr<PcapWriter> writer = PcapWriter::Create(path, log, &problem);
  if (!writer) {
    log("capture file " + path + " (TAV_H1_CAPTURE) cannot be written (" + problem +
        "): no capture");
    return link;
  }
  return std::make_unique<CapturingLink>(std::move(link), std::move(writer));
}

}  // namespace tav::h1eth
