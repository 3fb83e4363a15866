// Two transport layers joined back to back by an in-memory link on one simulated clock: a station
// that initiates (A, as the library does) and one that accepts (B, as an H1 station does). The link
// delays every frame, and may lose, duplicate and reorder frames on a seeded schedule; a test's
// filter sees each frame before it goes on the link and may change, drop or hold it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "h1eth/class4.h"

namespace tav::h1eth::testing {

inline constexpr EthernetAddress kAddressA{0x08, 0x00, 0x06, 0x01, 0x00, 0x0A};
inline constexpr EthernetAddress kAddressB{0x08, 0x00, 0x06, 0x01, 0x00, 0x0B};
inline const Bytes kTsapA{0x10, 0x01};
inline const Bytes kTsapB{0x20, 0x02};

// Short timers, so that minutes of protocol run in few events.
inline TransportSettings ShortTimers() {
  TransportSettings settings;
  settings.retransmissionTime = 20'000;
  settings.maxTransmissions = 6;
  settings.acknowledgeDelay = 2'000;
  settings.windowTime = 500'000;
  settings.inactivityTime = 3'000'000;
  settings.referenceFreezeTime = 5'000'000;
  return settings;
}

struct LinkFaults {
  double loss = 0;
  double duplication = 0;
  double reordering = 0;  // a frame delayed by up to five times the usual delay
  uint32_t seed = 1;
};

class BackToBack {
 public:
  enum Side { kA = 0, kB = 1 };
  // Sees each frame sent by `from`; returns false to drop it.
  using Filter = std::function<bool(Side from, Bytes& frame)>;

  explicit BackToBack(const TransportSettings& a = ShortTimers(),
                      const TransportSettings& b = ShortTimers(), LinkFaults faults = {})
      : faults_(faults),
        random_(faults.seed),
        layers_{TransportLayer(a, [this](ByteView f) { Put(kA, f); }),
                TransportLayer(b, [this](ByteView f) { Put(kB, f); })} {
    layers_[kA].AddLocalAddress(kAddressA);
    layers_[kB].AddLocalAddress(kAddressB);
    layers_[kB].SetAcceptor([this](ConnectionId id, const IncomingRequest&) {
      accepted_.push_back(id);
      return admission_;
    });
  }

  TransportLayer& layer(Side side) { return layers_[side]; }
  Microseconds now() const { return now_; }
  void SetFilter(Filter filter) { filter_ = std::move(filter); }
  void SetAdmission(Admission admission) { admission_ = admission; }
  const std::vector<ConnectionId>& accepted() const { return accepted_; }
  // Frames each side sent, before the filter.
  const std::vector<Bytes>& sent(Side side) const { return sent_[side]; }

  // A connects to B; returns its connection id.
  ConnectionId Connect() {
    return *layers_[kA].Connect({kAddressA, kAddressB}, kTsapA, kTsapB, now_);
  }
  TransportConnection& A(ConnectionId id) { return *layers_[kA].Connection(id); }
  // B's side of the connection it accepted last.
  TransportConnection& B() { return *layers_[kB].Connection(accepted_.back()); }

  // Hands a frame to a side as if it came from the link.
  void Deliver(Side to, ByteView frame) { layers_[to].TakeFrame(frame, now_); }

  // Runs frames and timers until `done` holds or `limit` microseconds have passed; whether done.
  bool RunUntil(const std::function<bool()>& done, Microseconds limit) {
    const Microseconds end = now_ + limit;
    int stuck = 0;  // steps at one time: a timer that Tick does not move would never end
    while (!done()) {
      Microseconds next = std::min(layers_[kA].NextDeadline(), layers_[kB].NextDeadline());
      for (const InFlight& frame : link_) next = std::min(next, frame.at);
      if (next > end) {
        now_ = end;
        return false;
      }
      stuck = next <= now_ ? stuck + 1 : 0;
      if (stuck > 10'000) {
        ADD_FAILURE() << "a deadline that Tick does not move";
        return false;
      }
      now_ = std::max(now_, next);
      Step();
    }
    return true;
  }
  void RunFor(Microseconds time) {
    RunUntil([] { return false; }, time);
  }

 private:
  struct InFlight {
    Microseconds at;
    Side to;
    Bytes frame;
  };
  static constexpr Microseconds kDelay = 100;

  void Put(Side from, ByteView bytes) {
    Bytes frame(bytes.begin(), bytes.end());
    sent_[from].push_back(frame);
    if (filter_ && !filter_(from, frame)) return;
    std::uniform_real_distribution<double> chance(0, 1);
    if (chance(random_) < faults_.loss) return;
    const int copies = chance(random_) < faults_.duplication ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
      Microseconds delay = kDelay;
      if (chance(random_) < faults_.reordering)
        delay += static_cast<Microseconds>(chance(random_) * 5 * kDelay);
      link_.push_back({now_ + delay, from == kA ? kB : kA, frame});
    }
  }
  void Step() {
    std::vector<InFlight> due;
    for (auto it = link_.begin(); it != link_.end();) {
      if (it->at <= now_) {
        due.push_back(std::move(*it));
        it = link_.erase(it);
      } else {
        ++it;
      }
    }
    for (const InFlight& frame : due) layers_[frame.to].TakeFrame(frame.frame, now_);
    layers_[kA].Tick(now_);
    layers_[kB].Tick(now_);
  }

  LinkFaults faults_;
  std::mt19937 random_;
  TransportLayer layers_[2];
  Microseconds now_ = 1'000'000;
  Filter filter_;
  Admission admission_{Admission::Verdict::kAccept, 0};
  std::vector<ConnectionId> accepted_;
  std::vector<Bytes> sent_[2];
  std::vector<InFlight> link_;
};

}  // namespace tav::h1eth::testing
