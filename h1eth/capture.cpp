#include "capture.h"

#include <chrono>

#include "files.h"

namespace tav::h1eth {

std::unique_ptr<PcapWriter> PcapWriter::Create(const std::string& path) {
  std::FILE* file = CreateFileForWriting(path);
  if (file == nullptr) return nullptr;
  const PcapFileHeader header{kPcapMagicMicroseconds, 2, 4, 0, 0, kPcapSnapshotLength,
                              kPcapLinkTypeEthernet};
  if (std::fwrite(&header, sizeof header, 1, file) != 1 || std::fflush(file) != 0) {
    std::fclose(file);
    return nullptr;
  }
  return std::unique_ptr<PcapWriter>(new PcapWriter(file));
}

PcapWriter::~PcapWriter() {
  std::fclose(file_);
}

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
  const auto bytes = static_cast<uint32_t>(std::min<size_t>(frame.size(), kPcapSnapshotLength));
  const PcapRecordHeader header{static_cast<uint32_t>(microsecondsSinceEpoch / 1'000'000),
                                static_cast<uint32_t>(microsecondsSinceEpoch % 1'000'000), bytes,
                                static_cast<uint32_t>(frame.size())};
  std::fwrite(&header, sizeof header, 1, file_);
  std::fwrite(frame.data(), 1, bytes, file_);
  std::fflush(file_);
}

bool CapturingLink::Send(FrameView frame) {
  return writer_->SendAndWrite(frame, [this](FrameView sent) { return link_->Send(sent); });
}

bool CapturingLink::Receive(FrameBytes& frame, int64_t waitMicroseconds) {
  const bool received = link_->Receive(frame, waitMicroseconds);
  if (received) writer_->Write(frame);
  return received;
}

}  // namespace tav::h1eth
