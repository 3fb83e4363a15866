// The test H1 station: on one interface, over AF_PACKET, it answers for every station of a
// simulated network (the built-in one or a network file) at that station's Ethernet address. It
// accepts the driver's connection requests as class 4 responder (a station switched off stays
// silent, as on the wire) and answers S5 fetch/write and S7 jobs from the station's memory. With
// --snap7-port it answers nothing itself: the TSDUs of each connection go to Snap7's S7 server
// on 127.0.0.1 over RFC 1006 and its answers come back over H1. Quirks for the tests of stale
// connections and floods: --keep-on-release drops every DR (the connections stay, as when no DR
// arrives), --repeat-ms sends each connection's last DT again that often (as when no AK
// arrives), --mute takes every message and answers none, --flood-us sends the driver an H1
// frame from a third address that often. For measurements, --busy takes the frames from
// libh1eth's own packet link (promiscuous: the kernel's filter and the receive ring) and asks it
// without ever sleeping between frames, so an answer leaves as soon as its request is in, and
// --cpu keeps the station on one processor.
//
// It prints "ready" once it listens, and on SIGTERM what the transport saw:
//   connections N dts N resequenced N duplicates N checksum-failures N retransmitted N
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "h1eth/class4.h"
#include "h1eth/link.h"
#include "peer.h"
#include "plc_responder.h"
#include "raw_link.h"
#include "sim/network_file.h"

namespace {

using namespace tav;  // NOLINT(google-build-using-namespace): the test's own program
using h1eth::ConnectionId;
using h1eth::Microseconds;

volatile sig_atomic_t gEnding = 0;

Microseconds Now() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One RFC 1006 connection to Snap7's server, carrying one H1 connection's S7 messages.
class Snap7Line {
 public:
  explicit Snap7Line(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socket_ = std::make_unique<h1tcp::test::PeerSocket>(fd);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return;
    const uint8_t local[] = {0x01, 0x00};
    const uint8_t remote[] = {0x01, 0x02};
    socket_->Send(h1tcp::ConnectionRequest(local, remote, 1));
    const std::optional<sessions::Bytes> confirm = socket_->ReadTpkt();
    up_ = confirm && confirm->size() > 5 && ((*confirm)[5] & 0xF0) == 0xD0;
  }
  bool up() const { return up_; }
  // Snap7 answers each job with one message, in order.
  std::optional<sessions::Bytes> Exchange(sessions::ByteView message) {
    socket_->SendData(message);
    return socket_->ReadData();
  }

 private:
  std::unique_ptr<h1tcp::test::PeerSocket> socket_;
  bool up_ = false;
};

// The test's raw link as the library's link interface, for the station's ordinary runs: its large
// socket buffer takes the floods of the bad network's tests.
class RawLinkAsLink final : public h1eth::Link {
 public:
  explicit RawLinkAsLink(const h1eth::test::RawLink& link) : link_(link) {}
  bool Send(h1eth::FrameView frame) override { return link_.Send(frame); }
  bool Receive(h1eth::FrameBytes& frame, int64_t waitMicroseconds) override {
    std::optional<h1eth::test::Frame> got =
        link_.Receive(std::chrono::microseconds(waitMicroseconds));
    if (got) frame = std::move(*got);
    return got.has_value();
  }
  EthernetAddress Address() const override { return link_.address(); }

 private:
  const h1eth::test::RawLink& link_;
};

struct Quirks {
  bool keepOnRelease = false, mute = false, busy = false;
  int repeatMs = 0, floodUs = 0;
};

struct Totals {
  long connections = 0, dts = 0, resequenced = 0, duplicates = 0, checksumFailures = 0,
       retransmitted = 0;
  void Add(const h1eth::TransportCounters& counters) {
    dts += counters.dtsReceived;
    resequenced += counters.dtsResequenced;
    duplicates += counters.duplicatesDiscarded;
    checksumFailures += counters.checksumFailures;
    retransmitted += counters.dtsRetransmitted;
  }
};

// The stations of the network on one link: the transport layer answers for all their addresses.
class H1Station {
 public:
  H1Station(sim::Network& network, h1eth::Link& link, uint16_t snap7Port, Quirks quirks)
      : network_(network),
        link_(link),
        snap7Port_(snap7Port),
        quirks_(quirks),
        layer_(Settings(), [this](sessions::ByteView frame) { Send(frame); }) {
    for (const sim::Station& station : network_.stations()) {
      layer_.AddLocalAddress(station.config().address);
    }
    layer_.SetAcceptor([this](ConnectionId id, const h1eth::IncomingRequest& request) {
      return Admit(id, request);
    });
  }

  void Run() {
    while (!gEnding) {
      const Microseconds wait =
          quirks_.busy ? 0
                       : std::clamp<Microseconds>(layer_.NextDeadline() - Now(), 0,
                                                  quirks_.floodUs ? quirks_.floodUs : 20'000);
      const bool took = link_.Receive(frame_, wait);
      if (took) {
        Take(frame_);
        // Take whatever else waits before answering: a burst of DTs is one TSDU.
        while (link_.Receive(frame_, 0)) Take(frame_);
      }
      // Busy, the link is asked again at once while nothing came: the connections are served
      // after frames and their timers run at least every kBusyTickMicroseconds, so a frame
      // waits for no more than a look at the ring.
      if (quirks_.busy && !took && Now() < tickAt_) continue;
      tickAt_ = Now() + kBusyTickMicroseconds;
      Serve();
      layer_.Tick(Now());
      if (quirks_.repeatMs && Now() >= repeatAt_) {
        repeatAt_ = Now() + quirks_.repeatMs * 1'000;
        for (const auto& [reference, dt] : lastDts_) link_.Send(dt);
      }
      if (quirks_.floodUs && driver_ && Now() >= floodAt_) {
        floodAt_ = Now() + quirks_.floodUs;
        const sessions::Bytes ak{3, 0x60, 0x12, 0x34, 0x00};
        link_.Send(h1eth::EncodeFrame(*driver_, {0x02, 0, 0, 0, 0, 0x99}, ak));
      }
    }
    for (ConnectionId id : layer_.Connections()) totals_.Add(layer_.Connection(id)->counters());
    std::printf(
        "connections %ld dts %ld resequenced %ld duplicates %ld checksum-failures %ld "
        "retransmitted %ld\n",
        totals_.connections, totals_.dts, totals_.resequenced, totals_.duplicates,
        totals_.checksumFailures, totals_.retransmitted);
  }

 private:
  void Take(const h1eth::FrameBytes& frame) {
    const std::optional<h1eth::Frame> h1 = h1eth::DecodeFrame(frame);
    if (h1) driver_ = h1->source;
    if (!quirks_.keepOnRelease || !h1 || h1->tpdu.size() < 2 || (h1->tpdu[1] & 0xF0) != 0x80) {
      layer_.TakeFrame(frame, Now());
    }
  }
  // Keeps each connection's last DT (by the station's address and the reference it goes to).
  void Send(sessions::ByteView frame) {
    if (quirks_.repeatMs) KeepIfDt(frame);
    link_.Send(frame);
  }
  void KeepIfDt(sessions::ByteView frame) {
    const std::optional<h1eth::Frame> h1 = h1eth::DecodeFrame(frame);
    if (h1 && h1->tpdu.size() > 4 && (h1->tpdu[1] & 0xF0) == 0xF0) {
      lastDts_[{h1->source, h1->tpdu[2] << 8 | h1->tpdu[3]}].assign(frame.begin(), frame.end());
    }
  }

  static h1eth::TransportSettings Settings() {
    h1eth::TransportSettings settings;
    settings.retransmissionTime = 50'000;
    settings.referenceFreezeTime = 1'000'000;
    return settings;
  }

  h1eth::Admission Admit(ConnectionId id, const h1eth::IncomingRequest& request) {
    sim::Station* station = network_.Find(request.endpoints.local);
    if (station == nullptr || !station->behaviour().reachable) {
      return {h1eth::Admission::Verdict::kIgnore};
    }
    if (snap7Port_ != 0) {
      auto line = std::make_unique<Snap7Line>(snap7Port_);
      if (!line->up()) return {h1eth::Admission::Verdict::kRefuse, 0x00};
      snap7_[id] = std::move(line);
    }
    stations_[id] = station;
    ++totals_.connections;
    std::printf("accepted %s\n", sim::FormatEthernetAddress(request.endpoints.local).c_str());
    std::fflush(stdout);
    return {h1eth::Admission::Verdict::kAccept};
  }

  // Answers every whole TSDU; lets connections that ended go.
  void Serve() {
    for (ConnectionId id : layer_.Connections()) {
      h1eth::TransportConnection* connection = layer_.Connection(id);
      const h1eth::ConnectionState state = connection->state();
      if (state != h1eth::ConnectionState::kOpen) {
        if (state != h1eth::ConnectionState::kConnecting &&
            state != h1eth::ConnectionState::kReleasing) {
          totals_.Add(connection->counters());
          layer_.Forget(id, Now());
          stations_.erase(id);
          snap7_.erase(id);
        }
        continue;
      }
      while (std::optional<sessions::Bytes> message = connection->Receive()) {
        if (quirks_.mute) continue;
        std::optional<sessions::Bytes> answer = Answer(id, *message);
        if (answer && !connection->Send(std::move(*answer), Now())) {
          std::fprintf(stderr, "h1_station: an answer could not be queued\n");
        }
      }
    }
  }

  std::optional<sessions::Bytes> Answer(ConnectionId id, sessions::ByteView message) {
    if (const auto line = snap7_.find(id); line != snap7_.end()) {
      return line->second->Exchange(message);
    }
    const auto station = stations_.find(id);
    if (station == stations_.end()) return std::nullopt;
    return h1eth::test::AnswerMessage(*station->second, message);
  }

  sim::Network& network_;
  h1eth::Link& link_;
  h1eth::FrameBytes frame_;
  uint16_t snap7Port_;
  Quirks quirks_;
  std::map<std::pair<EthernetAddress, int>, sessions::Bytes> lastDts_;
  std::optional<EthernetAddress> driver_;  // where the last frame came from
  static constexpr Microseconds kBusyTickMicroseconds = 100;
  Microseconds repeatAt_ = 0, floodAt_ = 0, tickAt_ = 0;
  h1eth::TransportLayer layer_;
  std::map<ConnectionId, sim::Station*> stations_;
  std::map<ConnectionId, std::unique_ptr<Snap7Line>> snap7_;
  Totals totals_;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("An H1 test station: every station of a simulated network, over AF_PACKET.");
  std::string interface = "h1";
  std::string networkFile;
  uint16_t snap7Port = 0;
  Quirks quirks;
  app.add_option("--interface", interface, "the interface to answer on");
  app.add_option("--network", networkFile, "a simulation file (TOML); else the built-in network");
  app.add_option("--snap7-port", snap7Port, "hand S7 jobs to Snap7's server on this port");
  app.add_flag("--keep-on-release", quirks.keepOnRelease, "drop every DR");
  app.add_option("--repeat-ms", quirks.repeatMs, "each connection's last DT again every MS");
  app.add_flag("--mute", quirks.mute, "answer no message");
  app.add_option("--flood-us", quirks.floodUs, "an H1 frame from a third address every US");
  app.add_flag("--busy", quirks.busy, "ask the link without sleeping between frames");
  int cpu = -1;
  app.add_option("--cpu", cpu, "run on this processor only");
  CLI11_PARSE(app, argc, argv);
  if (cpu >= 0) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    if (sched_setaffinity(0, sizeof set, &set) != 0) {
      std::fprintf(stderr, "h1_station: processor %d: %s\n", cpu, std::strerror(errno));
      return 1;
    }
  }

  sim::LoadedNetwork loaded = networkFile.empty() ? sim::LoadedNetwork{sim::DefaultNetwork(), {}}
                                                  : sim::LoadNetworkFile(networkFile);
  if (!loaded.network) {
    std::fprintf(stderr, "h1_station: %s\n", loaded.error.c_str());
    return 1;
  }
  std::unique_ptr<h1eth::Link> link;
  std::optional<h1eth::test::RawLink> raw;
  if (!quirks.busy) raw.emplace(interface);
  if (quirks.busy) {
    h1eth::LinkOpening opening = h1eth::OpenPacketLink(interface, {.promiscuous = true});
    if (!opening.link) {
      std::fprintf(stderr, "h1_station: %s\n",
                   h1eth::DescribeLinkFailure(opening, interface).c_str());
      return 1;
    }
    link = std::move(opening.link);
  } else if (raw->ok()) {
    link = std::make_unique<RawLinkAsLink>(*raw);
  } else {
    std::fprintf(stderr, "h1_station: %s\n", raw->error().c_str());
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = [](int) { gEnding = 1; };
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  H1Station station(*loaded.network, *link, snap7Port, quirks);
  std::printf("ready\n");
  std::fflush(stdout);
  station.Run();
  return 0;
}
