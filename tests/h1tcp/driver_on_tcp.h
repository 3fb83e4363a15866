// The real driver over libh1tcp: the test program links libh1tcp.so, so the loaded libtavsh1.so
// binds its H1 operations there, and plays the host (it exports `err`). Each test gets its own
// folder with the station file and the station map, and a fresh DriverInstance. Beside it, the
// stations the tests talk to: Snap7's S7 server, run as a program of its own, and an S5
// fetch/write responder of ours.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "abi/address_block.h"
#include "abi/driver_instance.h"
#include "abi/records.h"
#include "abi/transfer_block.h"
#include "frames.h"
#include "loaded_driver.h"
#include "snap7_process.h"

namespace tav::h1tcp::test {

using tav::e2e::HostLog;

// The host's elements as it holds them: little-endian.
Bytes Words(std::initializer_list<uint16_t> values);
Bytes DWords(std::initializer_list<uint32_t> values);
Bytes Floats(std::initializer_list<float> values);
Bytes Text(const char* text);

class DriverOnTcp : public ::testing::Test {
 protected:
  DriverOnTcp();
  ~DriverOnTcp() override;

  void WriteFile(const char* name, std::string_view text) const;
  void WriteStationFile(std::string_view text) const { WriteFile("tavSH101.int", text); }
  void WriteMap(std::string_view text) const { WriteFile("h1tcp.map", text); }

  int32_t Run(CommandCode command, void* parameters) {
    return driver_.Run(instance_.get(), command, parameters, 1);
  }
  // The host time-out 100 gives a connection wait of 100 polls, room for a loaded machine.
  int32_t Initialise(int32_t timeout = 100);
  int32_t Reconnect(int32_t station);
  const PlcEntry& station(int n) const { return instance_->plcTable[n]; }

  // The TransferBlock the host builds for a tag: command 3 parses its address.
  TransferBlock Tag(const char* address, int32_t hostType = 1);
  int32_t Transfer(CommandCode command, TransferBlock block, int32_t count, void* data);
  Bytes ReadBlock(const char* address, int32_t hostType, int32_t count, size_t size);
  // The driver's messages, without the station dumps.
  std::vector<std::string> Messages() const;

 private:
  e2e::LoadedDriver driver_;
  std::unique_ptr<DriverInstance> instance_ = std::make_unique<DriverInstance>();
  std::filesystem::path previousDirectory_;
  std::filesystem::path directory_;
};

// An S5 station of ours answering fetch/write: data blocks and extended data blocks of 16-bit
// words (held high byte first, as the PLC does) and byte-addressed inputs, outputs and flags.
// Over plain TCP it listens on two ports (read and write connection), over ISO on TCP on one.
class S5Responder {
 public:
  explicit S5Responder(bool iso);
  ~S5Responder();
  S5Responder(const S5Responder&) = delete;
  S5Responder& operator=(const S5Responder&) = delete;

  uint16_t port() const { return ports_[0]; }
  uint16_t writePort() const { return ports_[1]; }
  // The PLC's bytes of an organisation block (kS5Org...) and block number.
  Bytes Memory(uint8_t org, uint8_t block);
  // The called TSAPs of the connection requests (ISO), in arrival order.
  std::vector<std::string> CalledTsaps();

 private:
  void Listen(int listener);
  void Serve(int fd);
  Bytes Answer(const S5Request& request, ByteView data);

  bool iso_;
  int listeners_[2] = {-1, -1};
  uint16_t ports_[2] = {0, 0};
  std::mutex mutex_;
  std::map<std::pair<uint8_t, uint8_t>, Bytes> memory_;
  std::vector<std::string> tsaps_;
  std::vector<int> connections_;
  std::vector<std::thread> listenThreads_;
  std::vector<std::thread> serveThreads_;  // added under mutex_
  bool ending_ = false;
};

}  // namespace tav::h1tcp::test
