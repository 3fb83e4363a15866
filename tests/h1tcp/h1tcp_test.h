// The operations of libh1tcp called as the driver calls them, on stations of our own (peer.h).
// Each test writes its station map and opens the driver on it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/h1_library.h"
#include "platform/h1_records.h"

namespace tav::h1tcp::test {

class H1TcpTest : public ::testing::Test {
 protected:
  ~H1TcpTest() override;
  // Writes the map and opens the driver on it.
  void OpenDriver(std::string_view map);
  // Opens an S7 connection to `address` (12 hexadecimal digits); returns its identifier.
  uint16_t OpenS7(std::string_view address, uint8_t slot = 2);
  // Opens an S5 connection: the read connection with `previous` 0, else the write connection.
  uint16_t OpenS5(std::string_view address, std::string_view ltsap, std::string_view rtsap,
                  uint16_t previous = 0);
  // Polls the connection state as the driver does, up to `polls` times; the last result.
  uint16_t WaitState(uint16_t connection, int polls = 200);
  // Sends a read and polls its answer up to `polls` times; the receive's last result.
  uint16_t Read(uint16_t connection, uint16_t areaKind, uint16_t block, uint16_t start,
                uint16_t length, uint16_t& statusWord, int polls = 2000);
  uint16_t Write(uint16_t connection, uint16_t areaKind, uint16_t block, uint16_t start,
                 uint16_t length, uint16_t& statusWord, int polls = 2000);

  uint8_t buffer[10'000] = {};

 private:
  std::string mapPath_;
};

}  // namespace tav::h1tcp::test
