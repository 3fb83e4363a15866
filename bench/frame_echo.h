// The floor of the H1 benchmarks: an echo on a raw link in the station's namespace that answers
// every H1 frame addressed to it with `answers` frames of `answerBytes` of TPDU, sent back to the
// request's source: the first kCredit back to back, the rest once the pinger's acknowledgement (any
// further frame to the echo) came. It waits in poll (RawLink::Receive), as the test H1 station
// does, and does no class 4 work: what it costs is the link's own.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "echo_frames.h"
#include "netns.h"
#include "raw_link.h"

namespace tav::bench {

class FrameEcho {
 public:
  FrameEcho(const std::string& stationNamespace, EchoAddress address, size_t answers,
            size_t answerBytes)
      : address_(address), tpdu_(answerBytes, 0x5A) {
    h1eth::test::InNamespace(stationNamespace, [&] {
      link_ = std::make_unique<h1eth::test::RawLink>(h1eth::test::kLinkName);
    });
    if (link_ && link_->ok()) thread_ = std::thread([this, answers] { Serve(answers); });
  }
  ~FrameEcho() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  FrameEcho(const FrameEcho&) = delete;
  FrameEcho& operator=(const FrameEcho&) = delete;

  bool ok() const { return link_ && link_->ok(); }

 private:
  void Serve(size_t answers) {
    while (!stop_) {
      const std::optional<h1eth::test::Frame> request = AwaitRequest();
      if (!request) continue;
      const EchoAddress pinger = SourceOf(*request);
      if (pinger != answerTo_) {
        answerTo_ = pinger;
        answer_ = h1eth::test::H1Frame(pinger, address_, tpdu_);
      }
      for (size_t sent = 0; sent < answers; ++sent) {
        if (sent == kCredit && !AwaitRequest()) break;
        link_->Send(answer_);
      }
    }
  }
  // The next frame to the echo; nothing when the echo is told to stop first.
  std::optional<h1eth::test::Frame> AwaitRequest() {
    while (!stop_) {
      std::optional<h1eth::test::Frame> frame = link_->Receive(std::chrono::milliseconds(20));
      if (frame && std::equal(address_.begin(), address_.end(), frame->begin())) return frame;
    }
    return std::nullopt;
  }
  static EchoAddress SourceOf(const h1eth::test::Frame& frame) {
    EchoAddress source{};
    std::copy_n(frame.begin() + 6, source.size(), source.begin());
    return source;
  }

  EchoAddress address_;
  std::vector<uint8_t> tpdu_;
  std::unique_ptr<h1eth::test::RawLink> link_;
  EchoAddress answerTo_{};
  h1eth::test::Frame answer_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace tav::bench
