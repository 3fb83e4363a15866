// What libh1eth puts on the wire, judged by what shares no code with it: tshark's dissectors
// decode every TPDU kind (CR, CC, DT, AK, DR, DC, ER) of a session with S5 and S7 stations along
// the protocol path of H1, fetch/write as `h1` and S7 as `s7comm`, with no malformed frame and no
// expert error but the known wrong checksum verdict; the checksum of every TPDU holds by ISO
// 8073's own rule, computed here.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <thread>

#include "driver_on_h1.h"
#include "frame_judge.h"

namespace tav::h1eth::test {
namespace {

constexpr uint8_t kCr = 0x0E, kCc = 0x0D, kDt = 0x0F, kAk = 0x06, kDr = 0x08, kDc = 0x0C,
                  kEr = 0x07;
constexpr std::array<uint8_t, 6> kS5Station{0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x03};
constexpr std::array<uint8_t, 6> kS7Station{0x0A, 0x0B, 0x0C, 0x01, 0x02, 0x01};

std::array<uint8_t, 6> Source(const Frame& frame) {
  std::array<uint8_t, 6> address;
  std::copy_n(frame.begin() + 6, 6, address.begin());
  return address;
}

std::array<uint8_t, 6> Destination(const Frame& frame) {
  std::array<uint8_t, 6> address;
  std::copy_n(frame.begin(), 6, address.begin());
  return address;
}

// ISO 8073's checksum octets for a TPDU whose checksum octets at `at` are zero.
void PutChecksum(std::vector<uint8_t>& tpdu, size_t at) {
  int c0 = 0;
  int c1 = 0;
  for (uint8_t octet : tpdu) {
    c0 = (c0 + octet) % 255;
    c1 = (c1 + c0) % 255;
  }
  const int n = static_cast<int>(tpdu.size());
  const int k = static_cast<int>(at) + 1;
  tpdu[at] = static_cast<uint8_t>((((n - k) * c0 - c1) % 255 + 255) % 255);
  tpdu[at + 1] = static_cast<uint8_t>(((c1 - (n - k + 1) * c0) % 255 + 255) % 255);
}

// Wireshark takes an ER of at most 8 octets of header (reference, cause, checksum) and leaves a
// longer one undecoded, though ISO 8073 has the ER carry the rejected TPDU's header as well
// (parameter 0xC1). Such an ER is judged here: the cause, the rejected header as sent, and the
// checksum (checked by the caller).
bool IsErrorWithInvalidTpdu(std::span<const uint8_t> tpdu, const Frame& provoking) {
  if (tpdu.size() < 5 || tpdu[1] != 0x70 || tpdu[0] <= 8) return false;
  const std::span<const uint8_t> rejected = TpduOf(provoking);
  for (size_t at = 5; at + 2 <= size_t{tpdu[0]} + 1; at += 2 + tpdu[at + 1]) {
    if (tpdu[at] != 0xC1) continue;
    const std::span<const uint8_t> carried = tpdu.subspan(at + 2, tpdu[at + 1]);
    EXPECT_TRUE(std::equal(carried.begin(), carried.end(), rejected.begin()));
    EXPECT_EQ(tpdu[4], 0x02) << "reject cause: invalid TPDU type";
    return true;
  }
  return false;
}

class FramesOnTheWire : public DriverOnH1 {
 protected:
  void SetUp() override {
    std::string skip;
    if (!Start({}, skip)) GTEST_SKIP() << "skipped: " << skip;
    ASSERT_EQ(InitialiseExampleStations(), 0);
  }

  // Whether a TPDU of the kind (the code's high four bits) is in the capture within 5 s.
  bool AwaitInCapture(uint8_t kind) {
    for (int i = 0; i < 500; ++i) {
      for (const Frame& frame : ReadPcap(capture()).value_or(std::vector<Frame>{})) {
        const std::span<const uint8_t> tpdu = TpduOf(frame);
        if (tpdu.size() > 1 && (tpdu[1] & 0xF0) == kind) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // A TPDU of no known kind with a checksum that holds, to the driver's reference of the S5
  // station's first connection: the library must answer it with ER. Returns the frame sent.
  Frame ProvokeError() {
    const std::optional<std::vector<Frame>> frames = ReadPcap(capture());
    EXPECT_TRUE(frames);
    if (!frames) return {};
    for (const Frame& frame : *frames) {
      const std::span<const uint8_t> tpdu = TpduOf(frame);
      if (Source(frame) != kS5Station || tpdu.size() < 6 || (tpdu[1] & 0xF0) != 0xD0) continue;
      std::vector<uint8_t> unknown = {7, 0x50, tpdu[2], tpdu[3], 0xC3, 2, 0, 0};
      PutChecksum(unknown, 6);
      EXPECT_TRUE(ChecksumSumsAreZero(unknown));
      const Frame bad = H1Frame(Destination(frame), kS5Station, unknown);
      InNamespace(network().station(), [&] { EXPECT_TRUE(RawLink(kLinkName).Send(bad)); });
      return bad;
    }
    ADD_FAILURE() << "no CC from the S5 station in the capture";
    return {};
  }
};

TEST_F(FramesOnTheWire, TsharkDecodesEveryTpduKindAndEveryChecksumHolds) {
  HostBytes words = Words({0x1234, 0xABCD});
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("03DW0100030"), 2, words.data()), 0);
  EXPECT_EQ(ReadBlock("03DW0100030", 1, 2, 4), words);
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag("01DW0200004"), 2, words.data()), 0);
  EXPECT_EQ(ReadBlock("01DW0200004", 1, 2, 4), words);
  const Frame provoking = ProvokeError();
  EXPECT_TRUE(AwaitInCapture(0x70));  // ER
  // The station's connections set up afresh: DR, and the station's DC while the library runs.
  EXPECT_EQ(Reconnect(3), 0);
  EXPECT_TRUE(AwaitInCapture(0xC0));  // DC
  Run(CommandCode::kCloseH1, nullptr);

  const std::optional<std::vector<Frame>> frames = ReadPcap(capture());
  ASSERT_TRUE(frames);
  std::string why;
  const std::vector<DecodedFrame> decoded = DecodeWithTshark(capture(), why);
  if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
  ASSERT_EQ(decoded.size(), frames->size());

  std::set<uint8_t> kinds;
  size_t s5Data = 0;
  size_t s7Data = 0;
  for (size_t i = 0; i < frames->size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i + 1));
    const Frame& frame = (*frames)[i];
    const std::span<const uint8_t> tpdu = TpduOf(frame);
    ASSERT_FALSE(tpdu.empty());
    EXPECT_TRUE(CarriesChecksum(tpdu));
    EXPECT_TRUE(ChecksumSumsAreZero(tpdu));
    const DecodedFrame& seen = decoded[i];
    if (frame == provoking) continue;  // of no known kind on purpose
    if (IsErrorWithInvalidTpdu(tpdu, provoking)) {
      kinds.insert(kEr);
      continue;
    }
    EXPECT_TRUE(seen.protocols.starts_with("eth:llc:osi:clnp:cotp")) << seen.protocols;
    EXPECT_EQ(seen.problems, std::vector<std::string>{});
    ASSERT_TRUE(seen.tpduKind);
    kinds.insert(*seen.tpduKind);
    if (*seen.tpduKind != kDt) continue;
    const bool s5 = Source(frame) == kS5Station || Destination(frame) == kS5Station;
    const bool s7 = Source(frame) == kS7Station || Destination(frame) == kS7Station;
    if (s5) {
      // Fetch/write's header; the data behind it stays data.
      EXPECT_TRUE(seen.protocols.starts_with("eth:llc:osi:clnp:cotp:h1")) << seen.protocols;
      ++s5Data;
    }
    if (s7) {
      EXPECT_EQ(seen.protocols, "eth:llc:osi:clnp:cotp:s7comm");
      ++s7Data;
    }
  }
  EXPECT_EQ(kinds, (std::set<uint8_t>{kCr, kCc, kDt, kAk, kDr, kDc, kEr}));
  // The fetch/write headers as tshark's h1 dissector reads them: the write of two words at word
  // 30 of data block 10, its acknowledgement, the fetch of the same and its answer, each request
  // captured ahead of the answer it caused.
  const std::vector<std::string> headers = H1Headers(capture(), "", why);
  EXPECT_EQ(headers, (std::vector<std::string>{"0x03 0x01 10 30 2 ", "0x04     0",
                                               "0x05 0x01 10 30 2 ", "0x06     0"}));
  EXPECT_GE(s5Data, 4u);  // two requests, two answers
  EXPECT_GE(s7Data, 6u);  // the setup and its answer, two jobs and their answers
}

}  // namespace
}  // namespace tav::h1eth::test
