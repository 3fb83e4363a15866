#include "simulated_network.h"

#include <filesystem>

namespace tav::e2e {

SimulatedNetworkTest::SimulatedNetworkTest() : DriverHostTest("tavsh1-e2e-") {
  sim::InstallNetwork(sim::DefaultNetwork());
}

void SimulatedNetworkTest::UseExampleStationFile() const {
  // The examples folder may be named relative to the folder the test started in.
  const std::filesystem::path examples = startDirectory() / TAV_EXAMPLES_DIR;
  std::filesystem::copy_file(examples / "tavSH101.int", directory() / "tavSH101.int");
}

}  // namespace tav::e2e
