// The probe against a station of ours behind a link in memory on the test's clock: the CC with
// what was agreed (and the connection released again), a DR with its reason, and silence after
// every CR.
#include "probe.h"

#include <gtest/gtest.h>

#include <deque>

namespace tav::h1eth {
namespace {

constexpr EthernetAddress kOwnAddress = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
constexpr EthernetAddress kStationAddress = {0x08, 0x00, 0x06, 0x01, 0x02, 0x03};

// A link whose far end is a station's transport layer: what is sent reaches the station at once,
// what it answers waits to be received; waiting moves the test's clock on.
class StationLink final : public Link {
 public:
  StationLink(const TransportSettings& station, Admission admission, bool silent)
      : station_(station,
                 [this](ByteView frame) { answers_.emplace_back(frame.begin(), frame.end()); }),
        silent_(silent) {
    station_.AddLocalAddress(kStationAddress);
    station_.SetAcceptor([admission](ConnectionId, const IncomingRequest&) { return admission; });
  }
  bool Send(FrameView frame) override {
    ++sent_;
    if (!silent_) station_.TakeFrame(frame, now_);
    return true;
  }
  bool Receive(FrameBytes& frame, int64_t waitMicroseconds) override {
    if (answers_.empty()) {
      now_ += std::max<int64_t>(waitMicroseconds, 1);
      station_.Tick(now_);
      return false;
    }
    frame = std::move(answers_.front());
    answers_.pop_front();
    return true;
  }
  EthernetAddress Address() const override { return kOwnAddress; }

  Microseconds now() const { return now_; }
  int sent() const { return sent_; }
  TransportLayer& station() { return station_; }

 private:
  Microseconds now_ = 5'000'000;
  TransportLayer station_;
  std::deque<FrameBytes> answers_;
  bool silent_;
  int sent_ = 0;
};

struct Row {
  const char* name;
  bool offerExtended;
  Admission admission;
  bool silent;
  ProbeResult::Answer answer;
  bool extendedNumbering;
  uint8_t reason;
  int framesSent;  // CR; AK and DR when confirmed, DC when refused; every CR when silent
};

TEST(H1EthProbe, ReportsWhatTheStationAnswered) {
  const Admission accept{Admission::Verdict::kAccept, 0};
  const Row rows[] = {
      {"confirmed", false, accept, false, ProbeResult::Answer::kConfirmed, false, 0, 3},
      {"confirmed, extended", true, accept, false, ProbeResult::Answer::kConfirmed, true, 0, 3},
      {"refused",
       false,
       {Admission::Verdict::kRefuse, 0x83},
       false,
       ProbeResult::Answer::kRefused,
       false,
       0x83,
       2},
      {"silent", false, accept, true, ProbeResult::Answer::kSilent, false, 0, 4},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TransportSettings settings;
    settings.maxTransmissions = 4;
    settings.offerExtendedNumbering = row.offerExtended;
    StationLink link(TransportSettings{}, row.admission, row.silent);
    const Bytes local = {0x01, 0x00};
    const Bytes remote = {0x03, 0x02};
    const ProbeResult result =
        Probe(link, kStationAddress, local, remote, settings, [&link] { return link.now(); });
    EXPECT_EQ(result.answer, row.answer);
    EXPECT_EQ(result.extendedNumbering, row.extendedNumbering);
    EXPECT_EQ(result.reason, row.reason);
    EXPECT_EQ(link.sent(), row.framesSent);
    if (row.answer == ProbeResult::Answer::kConfirmed) {
      EXPECT_EQ(result.tpduBytes, 1024u);
      EXPECT_TRUE(result.checksum);
      EXPECT_NE(result.remoteReference, 0);
      // Released again: the station holds no open connection.
      for (ConnectionId id : link.station().Connections()) {
        EXPECT_NE(link.station().Connection(id)->state(), ConnectionState::kOpen);
      }
    }
    if (row.silent) {
      EXPECT_EQ(result.connectionRequests, 4);
      EXPECT_GE(result.answeredAfter, 4 * settings.retransmissionTime);
    }
  }
}

}  // namespace
}  // namespace tav::h1eth
