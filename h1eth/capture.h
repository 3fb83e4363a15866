// The capture file: every frame a link sends and receives, written as it passes to a classic
// pcap file (link type 1, Ethernet; timestamps in microseconds of the wall clock), which
// Wireshark and tshark open as it is. TAV_H1_CAPTURE names the file; the library wraps its link
// in a CapturingLink when it is set. The file may be a FIFO that Wireshark reads live: a capture
// never makes the link wait, and one that cannot keep up, whose reader goes away or that cannot be
// written is closed with one line while the link carries on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "file_access.h"
#include "link.h"

namespace tav::h1eth {

// The file's header, once at its start, in the writer's byte order (the magic number tells a
// reader which).
struct PcapFileHeader {
  uint32_t magic;  // kPcapMagicMicroseconds
  uint16_t versionMajor;
  uint16_t versionMinor;
  int32_t zoneOffset;  // seconds from UTC of the timestamps: 0
  uint32_t accuracy;   // 0
  uint32_t snapshotLength;
  uint32_t linkType;
};
static_assert(offsetof(PcapFileHeader, magic) == 0);
static_assert(offsetof(PcapFileHeader, versionMajor) == 4);
static_assert(offsetof(PcapFileHeader, versionMinor) == 6);
static_assert(offsetof(PcapFileHeader, zoneOffset) == 8);
static_assert(offsetof(PcapFileHeader, accuracy) == 12);
static_assert(offsetof(PcapFileHeader, snapshotLength) == 16);
static_assert(offsetof(PcapFileHeader, linkType) == 20);
static_assert(sizeof(PcapFileHeader) == 24);

// Ahead of each frame.
struct PcapRecordHeader {
  uint32_t seconds;
  uint32_t microseconds;
  uint32_t capturedBytes;
  uint32_t frameBytes;
};
static_assert(offsetof(PcapRecordHeader, seconds) == 0);
static_assert(offsetof(PcapRecordHeader, microseconds) == 4);
static_assert(offsetof(PcapRecordHeader, capturedBytes) == 8);
static_assert(offsetof(PcapRecordHeader, frameBytes) == 12);
static_assert(sizeof(PcapRecordHeader) == 16);

// The environment variable that names the capture file.
inline constexpr char kCaptureVariable[] = "TAV_H1_CAPTURE";

inline constexpr uint32_t kPcapMagicMicroseconds = 0xA1B2C3D4;
inline constexpr uint32_t kPcapLinkTypeEthernet = 1;
inline constexpr uint32_t kPcapSnapshotLength = 65535;

// Writes frames to one file. Safe to call from two threads: the records never interleave.
class PcapWriter {
 public:
  using Log = std::function<void(const std::string& line)>;
  // Nothing when the file cannot be created (or is a FIFO that nobody reads); `problem`, when
  // given, says why. `log` gets the one line that says why the capture closed.
  static std::unique_ptr<PcapWriter> Create(const std::string& path, Log log = {},
                                            std::string* problem = nullptr);
  ~PcapWriter();
  PcapWriter(const PcapWriter&) = delete;
  PcapWriter& operator=(const PcapWriter&) = delete;

  // One frame, stamped with `microsecondsSinceEpoch`; written through, so that a reader sees it.
  // Nothing once the capture closed.
  void Write(FrameView frame, int64_t microsecondsSinceEpoch);
  // Stamped now.
  void Write(FrameView frame);
  // Sends the frame with `send` and, when it went out, writes it stamped with the moment before
  // sending. Other writes wait meanwhile, so an answer the receiving thread gets back follows its
  // request in the file; a frame that could not be sent is not written.
  bool SendAndWrite(FrameView frame, const std::function<bool(FrameView)>& send);

 private:
  PcapWriter(std::unique_ptr<OutputFile> file, std::string path, Log log)
      : file_(std::move(file)), path_(std::move(path)), log_(std::move(log)) {}
  void WriteRecord(FrameView frame, int64_t microsecondsSinceEpoch);  // under mutex_

  std::mutex mutex_;
  std::unique_ptr<OutputFile> file_;  // null once closed
  std::string path_;
  Log log_;
  std::vector<uint8_t> record_;  // one record's bytes, written at once
};

// A link that hands every frame it sends or receives to a writer as well.
class CapturingLink final : public Link {
 public:
  CapturingLink(std::unique_ptr<Link> link, std::unique_ptr<PcapWriter> writer)
      : link_(std::move(link)), writer_(std::move(writer)) {}
  bool Send(FrameView frame) override;
  bool Receive(FrameBytes& frame, int64_t waitMicroseconds) override;
  EthernetAddress Address() const override { return link_->Address(); }
  int ReadableDescriptor() const override { return link_->ReadableDescriptor(); }

 private:
  std::unique_ptr<Link> link_;
  std::unique_ptr<PcapWriter> writer_;
};

// `link` wrapped for the capture file at `path` (what TAV_H1_CAPTURE names); `link` itself when
// no path is given, or, with one line to `log`, when the file cannot be written.
std::unique_ptr<Link> CaptureWhenAsked(std::unique_ptr<Link> link, const std::string& path,
                                       const PcapWriter::Log& log);

}  // namespace tav::h1eth
