#include "simulated_network.h"

#include <filesystem>

namespace tav::e2e {

SimulatedNetworkTest::SimulatedNetworkTest() : DriverHostTest("tavsh1-e2e-") {
  sim::InstallNetwork(sim::DefaultNetwork());
  HostLog().clear();
}

void SimulatedNetworkTest::UseExampleStationFile() const {
  std::filesystem::copy_file(TAV_EXAMPLES_DIR "/tavSH101.int", directory() / "tavSH101.int");
}

}  // namespace tav::e2e
