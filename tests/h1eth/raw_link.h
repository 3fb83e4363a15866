// A raw Ethernet link of the test programs: an AF_PACKET socket on one interface of the
// namespace the calling thread is in, in promiscuous mode (a test station answers for many
// Ethernet addresses), that sees the frames arriving and never those it sent itself.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tav::h1eth::test {

using Frame = std::vector<uint8_t>;

class RawLink {
 public:
  // Opens the link; ok() false with error() saying why.
  explicit RawLink(const std::string& interface);
  ~RawLink();
  RawLink(const RawLink&) = delete;
  RawLink& operator=(const RawLink&) = delete;

  bool ok() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }
  int fd() const { return fd_; }
  // The interface's own Ethernet address.
  const std::array<uint8_t, 6>& address() const { return address_; }

  bool Send(std::span<const uint8_t> frame) const;
  // The next frame, waiting at most `wait`; nothing when none came.
  std::optional<Frame> Receive(std::chrono::microseconds wait) const;

 private:
  int fd_ = -1;
  int index_ = 0;
  std::array<uint8_t, 6> address_{};
  std::string error_;
};

// An 802.3 frame with LLC FE FE 03, the inactive network layer and `payload` (at least the
// minimal frame's 46 bytes of data).
Frame H1Frame(const std::array<uint8_t, 6>& destination, const std::array<uint8_t, 6>& source,
              std::span<const uint8_t> tpdu);
// The TPDU of an H1 frame; empty when the frame is no H1 frame.
std::span<const uint8_t> TpduOf(std::span<const uint8_t> frame);

}  // namespace tav::h1eth::test
