// The bad network: a relay between two interfaces ("h1a" towards the driver, "h1b" towards the
// station) that forwards every frame, except that on a schedule drawn from a seeded generator it
// drops some, sends some twice, holds some back behind the next frame (reordering), delays all
// by a fixed time and corrupts one octet of some TPDUs. On SIGTERM it prints what it did:
//   forwarded N dropped N duplicated N reordered N corrupted N
#include <poll.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <deque>
#include <random>

#include "netns.h"
#include "raw_link.h"

namespace {

using tav::h1eth::test::Frame;
using tav::h1eth::test::RawLink;
using Clock = std::chrono::steady_clock;

volatile sig_atomic_t gEnding = 0;

struct Schedule {
  double loss = 0, duplicate = 0, reorder = 0, corrupt = 0;  // percent
  std::chrono::microseconds delay{0};
  uint32_t seed = 1;
};

struct Counts {
  long forwarded = 0, dropped = 0, duplicated = 0, reordered = 0, corrupted = 0;
};

struct Queued {
  Clock::time_point due;
  const RawLink* out;
  Frame frame;
};

class Relay {
 public:
  Relay(const Schedule& schedule, const RawLink& a, const RawLink& b)
      : schedule_(schedule), random_(schedule.seed), a_(a), b_(b) {}

  void Run() {
    while (!gEnding) {
      const Clock::time_point now = Clock::now();
      SendDue(now);
      const auto wait =
          queue_.empty()
              ? std::chrono::microseconds(20'000)
              : std::chrono::duration_cast<std::chrono::microseconds>(queue_.front().due - now);
      const auto slice =
          std::max(std::chrono::microseconds(0), std::min(wait, std::chrono::microseconds(1'000)));
      // Both sides in turn: whatever arrived on one goes out on the other.
      for (const RawLink* in : {&a_, &b_}) {
        while (std::optional<Frame> frame = in->Receive(std::chrono::microseconds(0))) {
          Take(std::move(*frame), in == &a_ ? b_ : a_);
        }
      }
      if (slice.count() > 0) Idle(slice);
    }
    std::printf("forwarded %ld dropped %ld duplicated %ld reordered %ld corrupted %ld\n",
                counts_.forwarded, counts_.dropped, counts_.duplicated, counts_.reordered,
                counts_.corrupted);
  }

 private:
  bool Chance(double percent) {
    return std::uniform_real_distribution<>(0, 100)(random_) < percent;
  }

  void Take(Frame frame, const RawLink& out) {
    if (Chance(schedule_.loss)) {
      ++counts_.dropped;
      return;
    }
    const std::span<const uint8_t> tpdu = tav::h1eth::test::TpduOf(frame);
    if (!tpdu.empty() && Chance(schedule_.corrupt)) {
      // XOR with 0x5A never turns 0x00 into 0xFF: a change every checksum of sums mod 255 sees.
      const size_t at = static_cast<size_t>(tpdu.data() - frame.data()) +
                        std::uniform_int_distribution<size_t>(0, tpdu.size() - 1)(random_);
      frame[at] ^= 0x5A;
      ++counts_.corrupted;
    }
    const Clock::time_point due = Clock::now() + schedule_.delay;
    const int copies = Chance(schedule_.duplicate) ? 2 : 1;
    counts_.duplicated += copies - 1;
    for (int copy = 0; copy < copies; ++copy) {
      if (copy == 0 && Chance(schedule_.reorder)) {
        // Held back: it goes out behind the next frame in this direction, or after 20 ms.
        held_.push_back({due + std::chrono::milliseconds(20), &out, frame});
        ++counts_.reordered;
        continue;
      }
      queue_.push_back({due, &out, frame});
      ReleaseHeld(out, due);
    }
  }

  void ReleaseHeld(const RawLink& out, Clock::time_point due) {
    for (auto it = held_.begin(); it != held_.end();) {
      if (it->out == &out) {
        queue_.push_back({due, it->out, std::move(it->frame)});
        it = held_.erase(it);
      } else {
        ++it;
      }
    }
  }

  void SendDue(Clock::time_point now) {
    for (auto it = held_.begin(); it != held_.end();) {
      if (it->due <= now) {
        queue_.push_back(std::move(*it));
        it = held_.erase(it);
      } else {
        ++it;
      }
    }
    while (!queue_.empty() && queue_.front().due <= now) {
      queue_.front().out->Send(queue_.front().frame);
      ++counts_.forwarded;
      queue_.pop_front();
    }
  }

  void Idle(std::chrono::microseconds slice) {
    pollfd entries[2] = {{a_.fd(), POLLIN, 0}, {b_.fd(), POLLIN, 0}};
    timespec timeout{0, static_cast<long>(slice.count() * 1000)};
    ppoll(entries, 2, &timeout, nullptr);
  }

  Schedule schedule_;
  std::mt19937 random_;
  const RawLink& a_;
  const RawLink& b_;
  std::deque<Queued> queue_;  // in due order: every frame is delayed by the same time
  std::deque<Queued> held_;
  Counts counts_;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("Relays H1 frames between two interfaces, badly on purpose.");
  Schedule schedule;
  std::string sideA = tav::h1eth::test::kRelayDriverSide;
  std::string sideB = tav::h1eth::test::kRelayStationSide;
  long delayMicroseconds = 0;
  app.add_option("--seed", schedule.seed, "the schedule's seed");
  app.add_option("--loss", schedule.loss, "frames dropped, percent")->check(CLI::Range(0.0, 100.0));
  app.add_option("--dup", schedule.duplicate, "frames sent twice, percent")
      ->check(CLI::Range(0.0, 100.0));
  app.add_option("--reorder", schedule.reorder, "frames held behind the next, percent")
      ->check(CLI::Range(0.0, 100.0));
  app.add_option("--corrupt", schedule.corrupt, "TPDUs with one octet changed, percent")
      ->check(CLI::Range(0.0, 100.0));
  app.add_option("--delay", delayMicroseconds, "delay of every frame, microseconds")
      ->check(CLI::Range(0L, 1'000'000L));
  app.add_option("--a", sideA, "the interface towards the driver");
  app.add_option("--b", sideB, "the interface towards the station");
  CLI11_PARSE(app, argc, argv);
  schedule.delay = std::chrono::microseconds(delayMicroseconds);

  const RawLink a(sideA);
  const RawLink b(sideB);
  for (const RawLink* link : {&a, &b}) {
    if (!link->ok()) {
      std::fprintf(stderr, "bad_network: %s\n", link->error().c_str());
      return 1;
    }
  }
  struct sigaction action {};
  action.sa_handler = [](int) { gEnding = 1; };
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::printf("relaying\n");
  std::fflush(stdout);
  Relay(schedule, a, b).Run();
  return 0;
}
