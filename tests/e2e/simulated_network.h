// The driver as the host runs it, on the simulated H1 network: the real libtavsh1.so, loaded by
// name, binds to the H1 operations of libtavsh1sim.so, which this test program links. Each test
// gets a fresh network, a fresh DriverInstance and its own current directory, where it writes
// its station files.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "abi/driver_instance.h"
#include "abi/records.h"
#include "loaded_driver.h"
#include "sim/network.h"
#include "sim/network_file.h"

namespace tav::e2e {

class SimulatedNetworkTest : public ::testing::Test {
 protected:
  SimulatedNetworkTest();
  ~SimulatedNetworkTest() override;

  // Writes the station file of `driverNumber` into the test's directory.
  void WriteStationFile(int32_t driverNumber, std::string_view text) const;
  // Copies the example station file examples/tavSH101.int (driver number 1).
  void UseExampleStationFile() const;

  int32_t Run(CommandCode command, void* parameters, int32_t driverNumber = 1) {
    return driver_.Run(instance_.get(), command, parameters, driverNumber);
  }
  // Command 1 with the host's time-out `timeout` (the retry budget is ten times it).
  int32_t Initialise(int32_t timeout, int32_t driverNumber = 1);
  int32_t Reconnect(int32_t station);

  DriverInstance& instance() { return *instance_; }
  const PlcEntry& station(int n) const { return instance_->plcTable[n]; }
  sim::Network& network() { return sim::ActiveNetwork(); }
  sim::Station& simulated(std::string_view address) { return *network().Find(address); }

  // The texts the driver logged, without the station dumps.
  std::vector<std::string> Messages() const;

 private:
  LoadedDriver driver_;
  std::unique_ptr<DriverInstance> instance_ = std::make_unique<DriverInstance>();
  std::filesystem::path previousDirectory_;
  std::filesystem::path examplesDirectory_;
  std::filesystem::path directory_;
};

}  // namespace tav::e2e
