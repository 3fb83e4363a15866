// The class 4 transport between two layers back to back: each mechanism with a test that fails
// without it, on the simulated clock, and a lossy, duplicating, reordering link over which every
// TSDU still arrives whole and in order.
#include "h1eth/class4.h"

#include <gtest/gtest.h>

#include <numeric>

#include "back_to_back.h"

namespace tav::h1eth {
namespace {

using testing::BackToBack;
using testing::ShortTimers;
using Side = BackToBack::Side;

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes bytes(size);
  std::iota(bytes.begin(), bytes.end(), seed);
  return bytes;
}

// The TPDU a frame carries, and its kind.
ByteView TpduOf(const Bytes& frame) {
  return DecodeFrame(frame)->tpdu;
}
cotp::Kind KindOf(const Bytes& frame) {
  return static_cast<cotp::Kind>(TpduOf(frame)[1] & 0xF0);
}
size_t Count(const std::vector<Bytes>& frames, cotp::Kind kind) {
  return static_cast<size_t>(std::count_if(frames.begin(), frames.end(),
                                           [&](const Bytes& f) { return KindOf(f) == kind; }));
}

// A connected pair; `a` is A's connection id.
struct Connected {
  explicit Connected(const TransportSettings& settingsA = ShortTimers(),
                     const TransportSettings& settingsB = ShortTimers(),
                     testing::LinkFaults faults = {})
      : net(settingsA, settingsB, faults), a(net.Connect()) {
    EXPECT_TRUE(net.RunUntil(
        [&] { return A().state() == ConnectionState::kOpen && !net.accepted().empty(); },
        10'000'000));
  }
  TransportConnection& A() { return net.A(a); }
  TransportConnection& B() { return net.B(); }
  // Sends from A and runs until B has the whole TSDU; returns it.
  std::optional<Bytes> Carry(const Bytes& tsdu, Microseconds limit = 5'000'000) {
    if (!A().Send(tsdu, net.now())) return std::nullopt;
    std::optional<Bytes> got;
    net.RunUntil([&] { return (got = B().Receive()).has_value(); }, limit);
    return got;
  }
  BackToBack net;
  ConnectionId a;
};

TEST(Class4, NegotiatesSizeChecksumAndNumbering) {
  struct Row {
    const char* what;
    uint8_t sizeA, sizeB;
    bool checksumA, checksumB;
    bool offerExtended, allowExtended;
    size_t tpduBytes;
    bool checksum;
    cotp::Numbering numbering;
  };
  const Row rows[] = {
      {"defaults", 10, 10, true, true, false, true, 1024, true, cotp::Numbering::kNormal},
      {"extended offered and allowed", 10, 10, true, true, true, true, 1024, true,
       cotp::Numbering::kExtended},
      {"extended offered, not allowed", 10, 10, true, true, true, false, 1024, true,
       cotp::Numbering::kNormal},
      {"responder's smaller size", 10, 8, true, true, false, true, 256, true,
       cotp::Numbering::kNormal},
      {"initiator's smaller size", 9, 10, true, true, false, true, 512, true,
       cotp::Numbering::kNormal},
      {"no checksum on either side", 10, 10, false, false, false, true, 1024, false,
       cotp::Numbering::kNormal},
      {"the responder insists on the checksum", 10, 10, false, true, false, true, 1024, true,
       cotp::Numbering::kNormal},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    TransportSettings a = ShortTimers();
    TransportSettings b = ShortTimers();
    a.tpduSizeCode = row.sizeA;
    b.tpduSizeCode = row.sizeB;
    a.checksum = row.checksumA;
    b.checksum = row.checksumB;
    a.offerExtendedNumbering = row.offerExtended;
    b.allowExtendedNumbering = row.allowExtended;
    Connected pair(a, b);
    for (TransportConnection* side : {&pair.A(), &pair.B()}) {
      EXPECT_EQ(side->state(), ConnectionState::kOpen);
      EXPECT_EQ(side->tpduBytes(), row.tpduBytes);
      EXPECT_EQ(side->checksum(), row.checksum);
      EXPECT_EQ(side->numbering(), row.numbering);
    }
    EXPECT_EQ(pair.A().remoteReference(), pair.B().localReference());
    EXPECT_EQ(pair.B().remoteReference(), pair.A().localReference());
    EXPECT_EQ(Bytes(pair.B().calledTsap().begin(), pair.B().calledTsap().end()), testing::kTsapB);
    // A TSDU of several DTs crosses intact whatever was agreed.
    const Bytes tsdu = Pattern(3000, 7);
    EXPECT_EQ(pair.Carry(tsdu), tsdu);
  }
}

TEST(Class4, DtsArrivingOutOfOrderAreDeliveredInOrder) {
  Connected pair;
  // The first DT of the TSDU is held back until the others have arrived, each of them twice.
  std::optional<Bytes> heldBack;
  pair.net.SetFilter([&](Side from, Bytes& frame) {
    if (from != Side::kA || KindOf(frame) != cotp::Kind::kData) return true;
    if (heldBack) {
      pair.net.Deliver(Side::kB, frame);
      return true;
    }
    heldBack = frame;
    return false;
  });
  const Bytes tsdu = Pattern(4000, 1);  // four DTs
  ASSERT_TRUE(pair.A().Send(tsdu, pair.net.now()));
  pair.net.RunFor(1'000);
  EXPECT_FALSE(pair.B().Receive());
  pair.net.Deliver(Side::kB, *heldBack);
  EXPECT_EQ(pair.B().Receive(), tsdu);
  EXPECT_EQ(pair.B().counters().dtsResequenced, 3u);
  EXPECT_EQ(pair.B().counters().dtsReceived, 4u);
  EXPECT_EQ(pair.B().counters().duplicatesDiscarded, 3u);
  EXPECT_EQ(pair.A().counters().dtsRetransmitted, 0u);

  // A DT numbered at the window's upper edge (four taken, credit eight: number 12) is not taken.
  cotp::Tpdu beyond;
  beyond.destinationReference = pair.B().localReference();
  beyond.number = 4 + ShortTimers().credit;
  beyond.endOfTsdu = true;
  const Bytes data{0xEE};
  beyond.userData = data;
  pair.net.Deliver(Side::kB,
                   EncodeFrame(testing::kAddressB, testing::kAddressA,
                               cotp::Encode(beyond, {false, cotp::Numbering::kNormal, true})));
  EXPECT_EQ(pair.B().counters().dtsReceived, 4u);
  EXPECT_FALSE(pair.B().Receive());
}

// With extended numbering and a credit of 2,000, what waits behind a lost DT is bounded by the
// TSDU cap (4,096 octets), not the credit: of the nine DTs of 1,012 or 48 octets behind it, five.
TEST(Class4, OutOfOrderDtsAreHeldOnlyUpToTheTsduCap) {
  TransportSettings a = ShortTimers();
  a.offerExtendedNumbering = true;
  a.maxTsduBytes = 4096;
  TransportSettings b = a;
  b.credit = 2000;
  Connected pair(a, b);
  bool lost = false;
  pair.net.SetFilter(
      [&](Side from, Bytes&) { return from != Side::kA || std::exchange(lost, true); });
  ASSERT_TRUE(pair.A().Send(Pattern(4096, 1), pair.net.now()));
  EXPECT_EQ(pair.Carry(Pattern(4096, 2)), Pattern(4096, 1));
  EXPECT_EQ(pair.B().counters().dtsResequenced, 5u);
  EXPECT_EQ(pair.B().counters().dtsNotHeld, 4u);
}

TEST(Class4, DuplicatesAreDiscardedAndAcknowledged) {
  Connected pair;
  pair.net.SetFilter([&](Side from, Bytes& frame) {
    if (from == Side::kA && KindOf(frame) == cotp::Kind::kData) {
      pair.net.Deliver(Side::kB, frame);  // each DT twice
    }
    return true;
  });
  for (uint8_t i = 0; i < 3; ++i) {
    const Bytes tsdu = Pattern(1500, i);
    EXPECT_EQ(pair.Carry(tsdu), tsdu);
  }
  pair.net.RunFor(100'000);
  EXPECT_FALSE(pair.B().Receive());
  EXPECT_EQ(pair.B().counters().duplicatesDiscarded, 6u);
}

TEST(Class4, LongTsdusUseTheWholeCredit) {
  Connected pair;
  const Bytes tsdu = Pattern(10'000, 3);
  EXPECT_EQ(pair.Carry(tsdu), tsdu);
  EXPECT_EQ(pair.A().counters().largestDtsInFlight, ShortTimers().credit);
  EXPECT_EQ(pair.A().counters().dtsRetransmitted, 0u);
  // Numbers wrap around the normal numbering's 128 without a loss.
  for (uint8_t i = 0; i < 15; ++i) {
    const Bytes more = Pattern(9'000 + i, i);
    ASSERT_EQ(pair.Carry(more), more);
  }
}

TEST(Class4, AOneDtTsduIsAcknowledgedWithinTheDelay) {
  Connected pair;
  const Bytes tsdu = Pattern(20, 4);
  ASSERT_EQ(pair.Carry(tsdu), tsdu);
  EXPECT_TRUE(pair.A().sending());
  pair.net.RunFor(ShortTimers().acknowledgeDelay + 1'000);
  EXPECT_FALSE(pair.A().sending());
  EXPECT_EQ(pair.A().counters().dtsRetransmitted, 0u);
}

// Credit 8: one AK while a TSDU of ten DTs flows (at the sixth, before the peer's window closes),
// never one at every half credit, the last DTs within the delay. Where a TSDU's last DT brings
// the count there while the peer's window still has room, the AK is owed: the TSDU is handed on
// first and the AK follows the answer's DT. Where the window has no room left (credit 1), at once.
TEST(Class4, AksGoNearTheCreditsEndAndAfterTheAnswerAtATsdusEnd) {
  struct Row {
    uint16_t credit;
    size_t requestDts;
    std::vector<cotp::Kind> beforeAnswer, afterAnswer;
  };
  using enum cotp::Kind;
  const Row rows[] = {
      {8, 10, {kDataAcknowledge}, {kDataAcknowledge, kData}},
      {8, 6, {}, {kData, kDataAcknowledge}},
      {8, 5, {}, {kData}},
      {1, 1, {kDataAcknowledge}, {kDataAcknowledge, kData}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "credit " << row.credit << ", " << row.requestDts);
    TransportSettings settings = ShortTimers();
    settings.credit = row.credit;
    Connected pair(settings, settings);
    std::vector<cotp::Kind> fromB;
    pair.net.SetFilter([&](Side from, Bytes& frame) {
      if (from == Side::kB) fromB.push_back(KindOf(frame));
      return true;
    });
    const Bytes request = Pattern(row.requestDts * 1015, 5);
    ASSERT_EQ(pair.Carry(request), request);
    EXPECT_EQ(fromB, row.beforeAnswer);
    ASSERT_TRUE(pair.B().Send(Pattern(20, 6), pair.net.now()));
    pair.net.RunFor(settings.acknowledgeDelay / 2);
    EXPECT_EQ(fromB, row.afterAnswer);
    pair.net.RunFor(settings.acknowledgeDelay + 1'000);
    EXPECT_FALSE(pair.A().sending());
    EXPECT_EQ(pair.A().counters().dtsRetransmitted, 0u);
  }
}

TEST(Class4, TheLayerDispatchesByAddressAndReferenceWithinItsCap) {
  TransportSettings b = ShortTimers();
  b.maxConnections = 2;
  BackToBack net(ShortTimers(), b);
  const ConnectionId first = net.Connect();
  const ConnectionId second = net.Connect();
  const ConnectionId third = net.Connect();
  ASSERT_TRUE(
      net.RunUntil([&] { return net.A(third).state() == ConnectionState::kRefused; }, 1'000'000));
  EXPECT_EQ(net.A(third).disconnectReason(), 0x81);  // congestion at the remote entity
  ASSERT_EQ(net.accepted().size(), 2u);
  // Each TSDU reaches the connection it was sent on.
  ASSERT_TRUE(net.A(first).Send(Bytes{1}, net.now()));
  ASSERT_TRUE(net.A(second).Send(Bytes{2}, net.now()));
  net.RunFor(1'000);
  EXPECT_EQ(net.layer(Side::kB).Connection(net.accepted()[0])->Receive(), Bytes{1});
  EXPECT_EQ(net.layer(Side::kB).Connection(net.accepted()[1])->Receive(), Bytes{2});
  // The same TPDU from another station, or to another address, reaches no connection.
  net.SetFilter([&](Side from, Bytes& frame) {
    if (from != Side::kA || KindOf(frame) != cotp::Kind::kData) return true;
    Bytes stranger = frame;
    stranger[11] ^= 0xFF;  // the source address
    net.Deliver(Side::kB, stranger);
    Bytes elsewhere = frame;
    elsewhere[5] ^= 0xFF;  // the destination address
    net.Deliver(Side::kB, elsewhere);
    return true;
  });
  ASSERT_TRUE(net.A(first).Send(Bytes{3}, net.now()));
  net.RunFor(100'000);
  TransportConnection& station = *net.layer(Side::kB).Connection(net.accepted()[0]);
  EXPECT_EQ(station.Receive(), Bytes{3});
  EXPECT_FALSE(station.Receive());
  EXPECT_EQ(station.counters().duplicatesDiscarded, 0u);
}

TEST(Class4, AReleasedReferenceStaysFrozen) {
  Connected pair;
  const uint16_t released = pair.A().localReference();
  const uint16_t peer = pair.A().remoteReference();
  // Let go while open, its first two DRs lost: DR until the DC comes, frozen only then.
  int drs = 0;
  pair.net.SetFilter([&](Side from, Bytes& frame) {
    return from != Side::kA || KindOf(frame) != cotp::Kind::kDisconnectRequest || ++drs > 2;
  });
  pair.net.layer(Side::kA).Forget(pair.a, pair.net.now());
  EXPECT_EQ(pair.net.layer(Side::kA).frozenReferences(), 0u);
  ASSERT_TRUE(pair.net.RunUntil(
      [&] { return pair.net.layer(Side::kA).releasingConnections() == 0; }, 1'000'000));
  EXPECT_EQ(drs, 3);
  EXPECT_EQ(pair.B().state(), ConnectionState::kBroken);
  EXPECT_EQ(pair.B().disconnectReason(), cotp::kReasonNormal);
  EXPECT_EQ(pair.net.layer(Side::kA).frozenReferences(), 1u);

  // A late DT for the frozen reference delivers nothing and draws one DR per T1, to the peer's
  // reference; a DR draws DC.
  cotp::Tpdu late;
  late.destinationReference = released;
  late.endOfTsdu = true;
  const Bytes data{1, 2, 3};
  late.userData = data;
  cotp::Tpdu dr;
  dr.kind = cotp::Kind::kDisconnectRequest;
  dr.destinationReference = released;
  dr.sourceReference = peer;
  const size_t before = pair.net.sent(Side::kA).size();
  const cotp::Format format{false, cotp::Numbering::kNormal, true};
  for (int i = 0; i < 2; ++i) {
    pair.net.Deliver(
        Side::kA, EncodeFrame(testing::kAddressA, testing::kAddressB, cotp::Encode(late, format)));
  }
  ASSERT_EQ(pair.net.sent(Side::kA).size(), before + 1);
  EXPECT_EQ(cotp::Decode(TpduOf(pair.net.sent(Side::kA).back()), format)->destinationReference,
            peer);
  pair.net.Deliver(Side::kA,
                   EncodeFrame(testing::kAddressA, testing::kAddressB, cotp::Encode(dr, format)));
  ASSERT_EQ(pair.net.sent(Side::kA).size(), before + 2);
  EXPECT_EQ(KindOf(pair.net.sent(Side::kA).back()), cotp::Kind::kDisconnectConfirm);

  // Every new connection gets another reference until the freeze time is over.
  std::vector<uint16_t> references;
  for (int i = 0; i < 3; ++i) {
    const ConnectionId id = pair.net.Connect();
    references.push_back(pair.net.A(id).localReference());
    pair.net.layer(Side::kA).Forget(id, pair.net.now());
  }
  EXPECT_EQ(std::count(references.begin(), references.end(), released), 0);
  pair.net.RunFor(ShortTimers().referenceFreezeTime + 1);
  EXPECT_EQ(pair.net.layer(Side::kA).frozenReferences(), 0u);
}

TEST(Class4, AnIdleConnectionLivesWhileASilentPeerIsDeclaredGone) {
  Connected pair;
  pair.net.RunFor(10 * 60 * 1'000'000LL);  // ten minutes without a TSDU
  EXPECT_EQ(pair.A().state(), ConnectionState::kOpen);
  EXPECT_EQ(pair.B().state(), ConnectionState::kOpen);
  EXPECT_GE(pair.A().counters().keepAlivesSent, 600u / 2);
  const Bytes tsdu = Pattern(100, 9);
  EXPECT_EQ(pair.Carry(tsdu), tsdu);

  pair.net.RunFor(100'000);  // B acknowledges it
  // B falls silent: A declares it gone after the inactivity time, not before.
  pair.net.SetFilter([](Side from, Bytes&) { return from == Side::kA; });
  const Microseconds silentSince = pair.net.now();
  ASSERT_TRUE(
      pair.net.RunUntil([&] { return pair.A().state() == ConnectionState::kBroken; }, 60'000'000));
  EXPECT_EQ(pair.A().breakCause(), BreakCause::kPeerSilent);
  EXPECT_GE(pair.net.now() - silentSince, ShortTimers().inactivityTime - ShortTimers().windowTime);
  EXPECT_LE(pair.net.now() - silentSince, ShortTimers().inactivityTime);
}

TEST(Class4, RetransmissionsAreBoundedThenTheConnectionIsBroken) {
  const int n = ShortTimers().maxTransmissions;
  {
    SCOPED_TRACE("DT never acknowledged");
    Connected pair;
    pair.net.SetFilter([](Side from, Bytes& frame) {
      return from != Side::kA || KindOf(frame) != cotp::Kind::kData;
    });
    ASSERT_TRUE(pair.A().Send(Pattern(10, 0), pair.net.now()));
    ASSERT_TRUE(pair.net.RunUntil([&] { return pair.A().state() == ConnectionState::kBroken; },
                                  10'000'000));
    EXPECT_EQ(pair.A().breakCause(), BreakCause::kRetransmissionsExhausted);
    EXPECT_EQ(pair.A().counters().dtsRetransmitted, static_cast<uint32_t>(n - 1));
  }
  {
    SCOPED_TRACE("CR never answered");
    BackToBack net;
    net.SetFilter([](Side from, Bytes&) { return from != Side::kA; });
    const ConnectionId id = net.Connect();
    ASSERT_TRUE(
        net.RunUntil([&] { return net.A(id).state() == ConnectionState::kBroken; }, 10'000'000));
    EXPECT_EQ(net.A(id).breakCause(), BreakCause::kNoAnswer);
    EXPECT_EQ(Count(net.sent(Side::kA), cotp::Kind::kConnectionRequest), static_cast<size_t>(n));
  }
}

TEST(Class4, ADtWithABadChecksumIsDroppedAndSentAgain) {
  Connected pair;
  bool corrupted = false;
  pair.net.SetFilter([&](Side from, Bytes& frame) {
    if (from == Side::kA && KindOf(frame) == cotp::Kind::kData && !corrupted) {
      frame[kFrameHeaderBytes + 20] ^= 0x01;  // one bit of the user data
      corrupted = true;
    }
    return true;
  });
  const Bytes tsdu = Pattern(200, 5);
  ASSERT_TRUE(pair.A().Send(tsdu, pair.net.now()));
  pair.net.RunFor(1'000);
  EXPECT_FALSE(pair.B().Receive());
  EXPECT_EQ(pair.B().counters().checksumFailures, 1u);
  std::optional<Bytes> got;
  ASSERT_TRUE(pair.net.RunUntil([&] { return (got = pair.B().Receive()).has_value(); }, 1'000'000));
  EXPECT_EQ(got, tsdu);
}

TEST(Class4, ARefusalReportsItsReason) {
  BackToBack net;
  net.SetAdmission({Admission::Verdict::kRefuse, 0x02});
  const ConnectionId id = net.Connect();
  ASSERT_TRUE(
      net.RunUntil([&] { return net.A(id).state() == ConnectionState::kRefused; }, 1'000'000));
  EXPECT_EQ(net.A(id).disconnectReason(), 0x02);
  EXPECT_EQ(Count(net.sent(Side::kA), cotp::Kind::kDisconnectConfirm), 1u);
  EXPECT_TRUE(net.layer(Side::kB).Connections().empty());
}

TEST(Class4, AnErrorTpduBreaksTheConnection) {
  Connected pair;
  // An AK of the longest header whose checksum holds but whose TPDU size parameter has two
  // octets: B answers ER, carrying as much of it as keeps its own header within an LI.
  const uint16_t reference = pair.B().localReference();
  Bytes bad{254,
            0x60,
            static_cast<uint8_t>(reference >> 8),
            static_cast<uint8_t>(reference),
            0x00,
            0xC3,
            0x02,
            0x00,
            0x00,
            0xC0,
            0x02,
            0x0A,
            0x0A};
  bad.resize(255, 0xEE);
  const std::array<uint8_t, 2> checksum = cotp::ChecksumOctets(bad, 7);
  bad[7] = checksum[0];
  bad[8] = checksum[1];
  pair.net.Deliver(Side::kB, EncodeFrame(testing::kAddressB, testing::kAddressA, bad));
  ASSERT_TRUE(
      pair.net.RunUntil([&] { return pair.A().state() == ConnectionState::kBroken; }, 1'000'000));
  EXPECT_EQ(pair.A().breakCause(), BreakCause::kErrorFromPeer);
  EXPECT_EQ(Count(pair.net.sent(Side::kB), cotp::Kind::kError), 1u);
  EXPECT_EQ(pair.A().rejectCause(), 0x03);  // invalid parameter value: the ER decoded whole
}

// A CC that switches off the checksum the CR asked for (options 02, no checksum) is refused.
TEST(Class4, ACcDecliningTheChecksumAskedForIsRefused) {
  BackToBack net;
  net.SetFilter([](Side from, Bytes& frame) {
    if (from != Side::kB || KindOf(frame) != cotp::Kind::kConnectionConfirm) return true;
    std::optional<cotp::Tpdu> cc = cotp::Decode(TpduOf(frame), {false, {}, false});
    cc->parameters.additionalOptions = 0x02;
    frame =
        EncodeFrame(testing::kAddressA, testing::kAddressB, cotp::Encode(*cc, {false, {}, false}));
    return true;
  });
  const ConnectionId id = net.Connect();
  net.RunFor(100'000);
  EXPECT_EQ(net.A(id).breakCause(), BreakCause::kNegotiationFailed);
  EXPECT_EQ(TpduOf(net.sent(Side::kA).back())[6], 0x82);  // DR, negotiation failed
}

// Property: over a link that loses 10 % of the frames, duplicates 5 % and reorders some, every
// TSDU arrives whole and in order, both ways, with either numbering.
TEST(Class4, EveryTsduArrivesInOrderOverABadLink) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE(seed);
    TransportSettings settings = ShortTimers();
    settings.maxTransmissions = 12;
    settings.offerExtendedNumbering = seed % 2 == 0;
    Connected pair(settings, settings, {0.10, 0.05, 0.2, seed});
    ASSERT_EQ(pair.A().state(), ConnectionState::kOpen);
    std::mt19937 random(seed);
    std::vector<Bytes> sentA, sentB, gotA, gotB;
    for (uint8_t i = 0; i < 24; ++i) {
      sentA.push_back(Pattern(random() % 5000, i));
      sentB.push_back(Pattern(random() % 3000, static_cast<uint8_t>(i + 100)));
    }
    size_t nextA = 0, nextB = 0;
    pair.net.RunUntil(
        [&] {
          if (nextA < sentA.size() && pair.A().Send(sentA[nextA], pair.net.now())) ++nextA;
          if (nextB < sentB.size() && pair.B().Send(sentB[nextB], pair.net.now())) ++nextB;
          while (auto tsdu = pair.B().Receive()) gotB.push_back(*tsdu);
          while (auto tsdu = pair.A().Receive()) gotA.push_back(*tsdu);
          return gotB.size() == sentA.size() && gotA.size() == sentB.size();
        },
        120'000'000);
    EXPECT_EQ(gotB, sentA);
    EXPECT_EQ(gotA, sentB);
    EXPECT_EQ(pair.A().state(), ConnectionState::kOpen);
  }
}

}  // namespace
}  // namespace tav::h1eth
