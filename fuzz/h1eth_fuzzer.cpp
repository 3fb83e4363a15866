// The H1 transport over Ethernet as an H1 station (or anything on the wire) drives it: a layer
// with one connection initiated to a peer takes any sequence of frames from any address, with
// time passing, TSDUs sent and received and the connection released in between. An input is a
// sequence of records: an operation octet, a length octet, and that many octets. Beyond not
// crashing:
//  - nothing outside the window is taken: a DT the connection counts as received lies below the
//    furthest upper window edge it granted (in CR or an AK it sent);
//  - no TSDU is delivered larger than the reassembly bound, and no more octets are delivered than
//    the DTs offered carried;
//  - memory stays bounded: frames sent in answer stay within H1's size, and the layer holds no
//    more connections than its cap;
//  - every TPDU sent is well formed: its length indicator says its header and lies within it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "h1eth/class4.h"

namespace {

using tav::h1eth::Bytes;
using tav::h1eth::ByteView;
namespace h1eth = tav::h1eth;
namespace cotp = tav::cotp;

constexpr tav::EthernetAddress kLocal{0x02, 0, 0, 0, 0, 0x01};
constexpr tav::EthernetAddress kPeer{0x08, 0x00, 0x06, 0x01, 0x00, 0x02};
constexpr tav::EthernetAddress kStranger{0x08, 0x00, 0x06, 0x01, 0x00, 0x03};

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "h1eth fuzzer: %s\n", what);
  std::abort();
}

enum Operation : uint8_t {
  kTpduFromPeer,
  kTpduWithChecksum,  // the first octet: where the checksum octets lie, then filled in
  kRawFrame,
  kTpduFromStranger,
  kTimePasses,
  kSendTsdu,
  kReceiveAll,
  kRelease,
  kOperations,
};

class Harness {
 public:
  Harness() : settings_(Settings()), layer_(settings_, [this](ByteView frame) { Sent(frame); }) {
    layer_.AddLocalAddress(kLocal);
    layer_.SetAcceptor([](h1eth::ConnectionId, const h1eth::IncomingRequest& request) {
      using Verdict = h1eth::Admission::Verdict;
      return h1eth::Admission{request.calledTsap.empty() ? Verdict::kRefuse : Verdict::kAccept,
                              0x02};
    });
    const Bytes calling{0x01, 0x00};
    const Bytes called{0x01, 0x01};
    id_ = *layer_.Connect({kLocal, kPeer}, calling, called, now_);
  }

  void Run(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (at + 2 <= size) {
      const uint8_t operation = data[at] % kOperations;
      const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
      const ByteView bytes(data + at + 2, length);
      at += 2 + length;
      Do(operation, bytes);
      ReceiveAll();
    }
  }

 private:
  static h1eth::TransportSettings Settings() {
    h1eth::TransportSettings settings;
    settings.maxConnections = 8;
    settings.maxTsduBytes = 4096;
    settings.maxQueuedTsdus = 4;
    settings.firstReference = 1;  // an input addresses the connection the same way each run
    return settings;
  }

  void Do(uint8_t operation, ByteView bytes) {
    switch (operation) {
      case kTpduFromPeer:
        return TakeTpdu(kPeer, Bytes(bytes.begin(), bytes.end()));
      case kTpduWithChecksum: {
        if (bytes.size() < 2) return;
        Bytes tpdu(bytes.begin() + 1, bytes.end());
        const size_t position = bytes[0];
        if (position + 1 < tpdu.size()) {
          tpdu[position] = tpdu[position + 1] = 0;
          const std::array<uint8_t, 2> octets = cotp::ChecksumOctets(tpdu, position);
          tpdu[position] = octets[0];
          tpdu[position + 1] = octets[1];
        }
        return TakeTpdu(kPeer, tpdu);
      }
      case kRawFrame:
        return layer_.TakeFrame(bytes, now_);
      case kTpduFromStranger:
        return TakeTpdu(kStranger, Bytes(bytes.begin(), bytes.end()));
      case kTimePasses:
        now_ += (bytes.empty() ? 1 : bytes[0] + 1) * (bytes.size() > 1 ? 100'000 : 1'000);
        return layer_.Tick(now_);
      case kSendTsdu:
        if (auto* connection = layer_.Connection(id_)) {
          (void)connection->Send(Bytes(bytes.empty() ? 0 : bytes[0] * 32u, 0x5A), now_);
        }
        return;
      case kReceiveAll:
        return ReceiveAll();
      case kRelease:
        if (auto* connection = layer_.Connection(id_)) connection->Release(now_);
        return;
      default:
        return;
    }
  }

  void TakeTpdu(const tav::EthernetAddress& from, const Bytes& tpdu) {
    const Bytes frame = h1eth::EncodeFrame(kLocal, from, tpdu);
    h1eth::TransportConnection* connection = layer_.Connection(id_);
    if (frame.empty() || connection == nullptr) return layer_.TakeFrame(frame, now_);
    const cotp::Format format{false, connection->numbering(), connection->checksum()};
    const std::optional<cotp::Tpdu> dt = cotp::Decode(tpdu, format);
    const bool data = from == kPeer && dt && dt->kind == cotp::Kind::kData;
    if (data) offered_ += dt->userData.size();
    // The window as granted before the DT came; taking it may send an AK that moves it.
    const uint32_t before = connection->counters().dtsReceived;
    const uint32_t lower = lowerEdge_;
    const uint32_t upper = upperEdge_;
    layer_.TakeFrame(frame, now_);
    if (data && connection->counters().dtsReceived > before) {
      Require(Distance(lower, dt->number) < Distance(lower, upper),
              "a DT beyond the window was taken");
    }
  }

  uint32_t Mask() {
    const auto* connection = layer_.Connection(id_);
    return connection != nullptr && connection->numbering() == cotp::Numbering::kExtended
               ? 0x7FFFFFFFu
               : 0x7Fu;
  }
  uint32_t Distance(uint32_t from, uint32_t to) { return (to - from) & Mask(); }

  // Follows the window the connection grants, from the CR and the AKs it sends to the peer.
  void Sent(ByteView frame) {
    Require(frame.size() <= 1514, "a frame larger than Ethernet's");
    const std::optional<h1eth::Frame> h1 = h1eth::DecodeFrame(frame);
    Require(h1.has_value(), "a frame that is not H1");
    Require(h1->tpdu.size() >= 2 && h1->tpdu[0] < 255 && h1->tpdu[0] < h1->tpdu.size(),
            "a TPDU whose length indicator does not describe its header");
    if (h1->destination != kPeer || h1->tpdu.size() < 2) return;
    const auto kind = static_cast<cotp::Kind>(h1->tpdu[1] & 0xF0);
    if (kind == cotp::Kind::kConnectionRequest) {
      upperEdge_ = h1->tpdu[1] & 0x0F;
      return;
    }
    const h1eth::TransportConnection* connection = layer_.Connection(id_);
    if (kind != cotp::Kind::kDataAcknowledge || connection == nullptr) return;
    const cotp::Format format{false, connection->numbering(), connection->checksum()};
    const std::optional<cotp::Tpdu> ak = cotp::Decode(h1->tpdu, format);
    Require(ak.has_value(), "an AK that does not decode");
    const uint32_t upper = (ak->number + ak->credit) & Mask();
    if (Distance(ak->number, upper) > Distance(ak->number, upperEdge_) ||
        Distance(lowerEdge_, ak->number) > Distance(lowerEdge_, upperEdge_)) {
      upperEdge_ = upper;
    }
    lowerEdge_ = ak->number;
  }

  void ReceiveAll() {
    Require(layer_.Connections().size() <= settings_.maxConnections, "connections beyond the cap");
    h1eth::TransportConnection* connection = layer_.Connection(id_);
    if (connection == nullptr) return;
    while (std::optional<Bytes> tsdu = connection->Receive()) {
      Require(tsdu->size() <= settings_.maxTsduBytes, "a TSDU beyond the reassembly bound");
      delivered_ += tsdu->size();
      Require(delivered_ <= offered_, "more octets delivered than DTs carried");
    }
  }

  h1eth::TransportSettings settings_;
  h1eth::TransportLayer layer_;
  h1eth::ConnectionId id_ = 0;
  h1eth::Microseconds now_ = 1'000'000;
  uint32_t lowerEdge_ = 0;
  uint32_t upperEdge_ = 0;
  size_t offered_ = 0;
  size_t delivered_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Harness harness;
  harness.Run(data, size);
  return 0;
}
