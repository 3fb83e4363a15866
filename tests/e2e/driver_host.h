// The host of the end-to-end tests: the real driver library, loaded by name, a fresh
// DriverInstance per test and a current directory of the test's own, where it writes its station
// files. Which H1 library the loaded driver binds to is the test program's choice (the simulated
// network, libh1tcp); the fixtures for each derive from this one.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "abi/driver_instance.h"
#include "abi/records.h"
#include "abi/transfer_block.h"
#include "loaded_driver.h"

namespace tav::e2e {

using HostBytes = std::vector<uint8_t>;

// The host's elements as it holds them: little-endian.
HostBytes Words(std::initializer_list<uint16_t> values);
HostBytes DWords(std::initializer_list<uint32_t> values);
HostBytes Floats(std::initializer_list<float> values);
HostBytes Text(const char* text);

// One row of a write read back: `count` elements of the tag `address` in host type `hostType`,
// `host` the bytes the host writes and expects to read again.
struct RoundTrip {
  const char* address;
  int32_t hostType;
  int32_t count;
  HostBytes host;
};

class DriverHostTest : public ::testing::Test {
 protected:
  // The test's directory is `prefix` followed by the suite's and the test's names and a random
  // number: the same test of another build (the other calling convention, under the same Wine
  // prefix) may run at the same time.
  explicit DriverHostTest(const char* prefix);
  ~DriverHostTest() override;

  const std::filesystem::path& directory() const { return directory_; }
  // The current directory the test started in.
  const std::filesystem::path& startDirectory() const { return previousDirectory_; }
  void WriteFile(const char* name, std::string_view text) const;
  // Writes the station file of `driverNumber` into the test's directory.
  void WriteStationFile(int32_t driverNumber, std::string_view text) const;
  void WriteStationFile(std::string_view text) const { WriteStationFile(1, text); }

  int32_t Run(CommandCode command, void* parameters, int32_t driverNumber = 1) {
    return driver_.Run(instance_.get(), command, parameters, driverNumber);
  }
  // Command 1 with the host's time-out `timeout` (the retry budget is ten times it).
  int32_t Initialise(int32_t timeout, int32_t driverNumber = 1);
  int32_t Reconnect(int32_t station);

  DriverInstance& instance() { return *instance_; }
  const PlcEntry& station(int n) const { return instance_->plcTable[n]; }

  // The TransferBlock the host builds for a tag: command 3 parses its address.
  TransferBlock Tag(const char* address, int32_t hostType = 1);
  int32_t Transfer(CommandCode command, TransferBlock block, int32_t count, void* data);
  // Reads `size` bytes' worth of elements of the tag.
  HostBytes ReadBlock(const char* address, int32_t hostType, int32_t count, size_t size);
  // Writes every row with command 10 and reads it back with command 6: the bytes must come back
  // as written, and the driver log nothing.
  void ExpectRoundTrips(std::span<const RoundTrip> rows);
  // The texts the driver logged, without the station dumps.
  std::vector<std::string> Messages() const;

 private:
  LoadedDriver driver_;
  std::unique_ptr<DriverInstance> instance_ = std::make_unique<DriverInstance>();
  std::filesystem::path previousDirectory_;
  std::filesystem::path directory_;
};

}  // namespace tav::e2e
