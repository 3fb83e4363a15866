#include "driver_on_h1.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include "sim/network_file.h"

namespace tav::h1eth::test {
namespace {

// The built-in network's stations and two with long data blocks.
std::string NetworkText() {
  return std::string(sim::DefaultNetworkText()) + kLongBlockNetwork;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

H1TestBed::H1TestBed(std::filesystem::path folder) : folder_(std::move(folder)) {
  setenv("TAV_H1_INTERFACE", kLinkName, 1);
  setenv("TAV_H1_CAPTURE", capture().c_str(), 1);
  setenv("TAV_H1ETH_CONF", (folder_ / "h1eth.conf").c_str(), 1);
}

H1TestBed::~H1TestBed() {
  entered_.reset();
  Stop(relay_, relayLog_);
  Stop(station_, stationLog_);
  network_.reset();
}

DriverOnH1::DriverOnH1() : DriverHostTest("h1eth-e2e-") {}

DriverOnH1::~DriverOnH1() {
  if (bed_.entered()) Run(CommandCode::kCloseH1, nullptr);
}

bool H1TestBed::Start(const StationOptions& options, std::string& skip) {
  network_ = std::make_unique<TestNetwork>(options.relay.empty() ? TestNetwork::Shape::kPair
                                                                 : TestNetwork::Shape::kWithRelay);
  if (!network_->unavailable().empty()) {
    skip = network_->unavailable();
    return false;
  }
  WriteText(folder_ / "h1eth.conf", std::string(kWordAddressedStations) + options.settings);
  WriteText(folder_ / "network.toml", NetworkText());
  stationLog_ = (folder_ / "station.log").string();
  std::vector<std::string> station = {TAV_H1_STATION, "--network",
                                      (folder_ / "network.toml").string()};
  station.insert(station.end(), options.station.begin(), options.station.end());
  if (options.inStationNamespace) {
    InNamespace(network_->station(), [&] {
      const std::vector<std::string> more = options.inStationNamespace();
      station.insert(station.end(), more.begin(), more.end());
    });
  }
  station_ = network_->Spawn(network_->station(), station, stationLog_);
  EXPECT_TRUE(AwaitLine(stationLog_, "ready")) << ReadAll(stationLog_);
  if (!options.relay.empty()) {
    relayLog_ = (folder_ / "relay.log").string();
    std::vector<std::string> relay = {TAV_BAD_NETWORK};
    relay.insert(relay.end(), options.relay.begin(), options.relay.end());
    relay_ = network_->Spawn(network_->relay(), relay, relayLog_);
    EXPECT_TRUE(AwaitLine(relayLog_, "relaying")) << ReadAll(relayLog_);
  }
  entered_ = std::make_unique<EnteredNamespace>(network_->driver());
  EXPECT_TRUE(entered_->entered());
  return true;
}

int32_t DriverOnH1::InitialiseExampleStations(int32_t timeout) {
  const std::filesystem::path examples = TAV_EXAMPLES_DIR;
  WriteStationFile(ReadAll((examples / "tavSH101.int").string()) + kLongBlockStations);
  return Initialise(timeout);
}

void DriverOnH1::ExpectWordsIntact(const char* address) {
  SCOPED_TRACE(address);
  std::vector<uint16_t> words(5'000);
  for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint16_t>(i * 40503 + 1);
  std::vector<uint16_t> out = words;
  ASSERT_EQ(Transfer(CommandCode::kWriteBlock, Tag(address), 5'000, out.data()), 0);
  std::vector<uint16_t> back(5'000, 0xEEEE);
  ASSERT_EQ(Transfer(CommandCode::kReadBlock, Tag(address), 5'000, back.data()), 0);
  EXPECT_EQ(back, words);
}

std::string H1TestBed::StopRelay() {
  return Stop(relay_, relayLog_);
}

std::string H1TestBed::StopStation() {
  return Stop(station_, stationLog_);
}

std::string H1TestBed::Stop(pid_t& pid, const std::string& log) {
  if (pid <= 0) return "";
  StopProgram(pid);
  pid = -1;
  std::string text = ReadAll(log);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text.substr(text.rfind('\n') + 1);
}

}  // namespace tav::h1eth::test
