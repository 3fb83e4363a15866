#include "simulated_network.h"

#include <fstream>
#include <random>
#include <string>

namespace tav::e2e {

namespace {

std::string StationFileName(int32_t driverNumber) {
  std::string number = std::to_string(driverNumber);
  if (number.size() < 2) number.insert(0, "0");
  return "tavSH1" + number + ".int";
}

// Lines of the station dump that the driver logs for every station it reads.
bool IsStationDump(std::string_view text) {
  return text.starts_with("TavSH1: ====") || text.starts_with("TavSH1: PLC # ");
}

}  // namespace

SimulatedNetworkTest::SimulatedNetworkTest() {
  sim::InstallNetwork(sim::DefaultNetwork());
  HostLog().clear();
  previousDirectory_ = std::filesystem::current_path();
  // The examples folder may be named relative to the folder the test started in.
  examplesDirectory_ = std::filesystem::absolute(TAV_EXAMPLES_DIR);
  // The same test of another build (the other calling convention, under the same Wine prefix)
  // may run at the same time: each run takes a directory of its own.
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name =
      std::string("tavsh1-e2e-") + test->test_suite_name() + "-" + test->name() + "-";
  std::random_device random;
  do {
    directory_ = std::filesystem::temp_directory_path() / (name + std::to_string(random()));
  } while (!std::filesystem::create_directories(directory_));
  std::filesystem::current_path(directory_);
}

SimulatedNetworkTest::~SimulatedNetworkTest() {
  std::filesystem::current_path(previousDirectory_);
  std::filesystem::remove_all(directory_);
}

void SimulatedNetworkTest::WriteStationFile(int32_t driverNumber, std::string_view text) const {
  std::ofstream(directory_ / StationFileName(driverNumber), std::ios::binary) << text;
}

void SimulatedNetworkTest::UseExampleStationFile() const {
  std::filesystem::copy_file(examplesDirectory_ / "tavSH101.int", directory_ / "tavSH101.int");
}

int32_t SimulatedNetworkTest::Initialise(int32_t timeout, int32_t driverNumber) {
  InitBlock block{{}, 1, timeout};
  return Run(CommandCode::kInitialise, &block, driverNumber);
}

int32_t SimulatedNetworkTest::Reconnect(int32_t station) {
  ReconnectBlock block{station};
  return Run(CommandCode::kReconnect, &block);
}

std::vector<std::string> SimulatedNetworkTest::Messages() const {
  std::vector<std::string> messages;
  for (const HostLogLine& line : HostLog()) {
    if (!IsStationDump(line.text)) messages.push_back(line.text);
  }
  return messages;
}

}  // namespace tav::e2e
