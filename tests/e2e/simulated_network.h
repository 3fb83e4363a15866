// The driver as the host runs it, on the simulated H1 network: the real libtavsh1.so, loaded by
// name, binds to the H1 operations of libtavsh1sim.so, which this test program links. Each test
// gets a fresh network besides what every host test gets (driver_host.h).
#pragma once

#include <string_view>

#include "driver_host.h"
#include "sim/network.h"
#include "sim/network_file.h"

namespace tav::e2e {

class SimulatedNetworkTest : public DriverHostTest {
 protected:
  SimulatedNetworkTest();

  // Copies the example station file examples/tavSH101.int (driver number 1).
  void UseExampleStationFile() const;

  sim::Network& network() { return sim::ActiveNetwork(); }
  sim::Station& simulated(std::string_view address) { return *network().Find(address); }
};

}  // namespace tav::e2e
