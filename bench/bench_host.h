// The host the driver benchmarks play: a folder of its own holding the station file and whatever
// other files the H1 library reads, the driver loaded by file name, and one DriverInstance. The
// folder is the working directory while the host lives, as the driver looks for its station file
// there.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "abi/address_block.h"
#include "abi/driver_instance.h"
#include "abi/records.h"
#include "abi/transfer_block.h"
#include "loaded_driver.h"

namespace tav::bench {

class BenchHost {
 public:
  // `name` tells the folders of different benchmarks apart; `files` are further files of the
  // folder, by name and text.
  BenchHost(const std::string& name, const std::string& stations,
            const std::vector<std::pair<std::string, std::string>>& files = {}) {
    previous_ = std::filesystem::current_path();
    folder_ = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    std::ofstream(folder_ / "tavSH101.int", std::ios::binary) << stations;
    for (const auto& [file, text] : files) std::ofstream(folder_ / file, std::ios::binary) << text;
    std::filesystem::current_path(folder_);
  }
  ~BenchHost() {
    Close();
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(folder_);
  }
  BenchHost(const BenchHost&) = delete;
  BenchHost& operator=(const BenchHost&) = delete;

  const std::filesystem::path& folder() const { return folder_; }

  int32_t Run(CommandCode command, void* parameters) {
    return driver_.Run(instance_.get(), command, parameters, 1);
  }
  // Initialises a fresh instance; true when every station of 1 to `stations` came up.
  bool Initialise(int stations) {
    instance_ = std::make_unique<DriverInstance>();
    InitBlock block{{}, 1, 100};
    if (Run(CommandCode::kInitialise, &block) != 0) return false;
    for (int n = 1; n <= stations; ++n) {
      if (!Up(n)) return false;
    }
    return true;
  }
  // Whether station `n` came up at the last initialisation.
  bool Up(int n) const { return instance_->plcTable[n].readConnection != 0; }
  void Close() { Run(CommandCode::kCloseH1, nullptr); }
  // The transfer block of one tag, its address parsed by the driver.
  TransferBlock Tag(const char* address, int32_t count, void* data) {
    AddressBlock parsed{};
    parsed.addressText = address;
    parsed.hostDataType = 1;
    Run(CommandCode::kParseAddress, &parsed);
    return TransferBlockFor(parsed, address, count, data);
  }

 private:
  e2e::LoadedDriver driver_;
  std::unique_ptr<DriverInstance> instance_ = std::make_unique<DriverInstance>();
  std::filesystem::path previous_;
  std::filesystem::path folder_;
};

}  // namespace tav::bench
