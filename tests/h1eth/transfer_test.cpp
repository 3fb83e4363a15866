// The driver over libh1eth: the cases every back-end runs (example_stations_test.cpp) on the test
// H1 station, and blocks of 10,000 bytes that travel as many DTs.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <numeric>

#include "driver_on_h1.h"
#include "back_end.h"
#include "frame_judge.h"

namespace tav::h1eth::test {
namespace {

// The test H1 station answering for the simulated network's stations in a namespace of its own.
class ExampleStationsOverH1 : public e2e::BackEnd {
 public:
  std::string Start(const std::filesystem::path& folder) override {
    bed_ = std::make_unique<H1TestBed>(folder);
    std::string skip;
    return bed_->Start({}, skip) ? "" : skip;
  }
  std::string Lacks(e2e::Need) const override { return {}; }

 private:
  std::unique_ptr<H1TestBed> bed_;
};

using e2e::ExampleStationsTest;

INSTANTIATE_TEST_SUITE_P(OverH1, ExampleStationsTest,
                         ::testing::Values(e2e::BackEndChoice{
                             "H1", []() -> std::unique_ptr<e2e::BackEnd> {
                               return std::make_unique<ExampleStationsOverH1>();
                             }}),
                         e2e::BackEndName);

class TransferOverH1 : public DriverOnH1 {
 protected:
  void SetUp() override {
    std::string skip;
    if (!Start({}, skip)) GTEST_SKIP() << "skipped: " << skip;
    ASSERT_EQ(InitialiseExampleStations(), 0);
    HostLog().clear();
  }
};

// 10,000 bytes on the S5 station (one TSDU each way, ten DTs) and the S7 station (jobs of the
// negotiated PDU): written, read back, and the DTs counted in the capture.
TEST_F(TransferOverH1, LongBlocksTravelAsManyDts) {
  std::vector<uint16_t> words(5'000);
  for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(i * 7919 + 13);
  for (const char* address : {"06DW0200000", "07DW0200000"}) {
    SCOPED_TRACE(address);
    std::vector<uint16_t> out = words;
    ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag(address), 5'000, out.data()), 0);
    std::vector<uint16_t> back(5'000, 0xEEEE);
    ASSERT_EQ(Transfer(CommandCode::kReadBlock, Tag(address), 5'000, back.data()), 0);
    EXPECT_EQ(back, words);
  }
  const std::optional<std::vector<Frame>> frames = ReadPcap(capture());
  ASSERT_TRUE(frames);
  size_t s5Dts = 0;
  size_t s5DtsWithoutEnd = 0;
  for (const Frame& frame : *frames) {
    const std::span<const uint8_t> tpdu = TpduOf(frame);
    const bool s5Station = frame[5] == 0x06 || frame[11] == 0x06;
    if (tpdu.size() < 5 || (tpdu[1] & 0xF0) != 0xF0 || !s5Station) continue;
    ++s5Dts;
    if ((tpdu[4] & 0x80) == 0) ++s5DtsWithoutEnd;
  }
  EXPECT_GE(s5Dts, 20u);  // 10,016 bytes each way in DTs of at most 1,024
  EXPECT_GE(s5DtsWithoutEnd, 18u);
}

}  // namespace
}  // namespace tav::h1eth::test
