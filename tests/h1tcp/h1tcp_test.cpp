#include "h1tcp_test.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "results.h"

namespace tav::h1tcp::test {

namespace {

void FillTsap(uint8_t* field, uint8_t& length, std::string_view tsap) {
  length = 8;
  std::memcpy(field, tsap.data(), std::min<size_t>(tsap.size(), 8));
}

void FillAddress(ConnectRecord& record, std::string_view address) {
  record.recordType = 8;
  record.recordVersion = 1;
  record.addressLength = 6;
  for (size_t i = 0; i < 6; ++i) {
    record.ethernetAddress[i] =
        static_cast<uint8_t>(std::stoi(std::string(address.substr(2 * i, 2)), nullptr, 16));
  }
}

void Pause() {
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

H1TcpTest::~H1TcpTest() {
  H1CloseDriver();
  if (!mapPath_.empty()) std::filesystem::remove(mapPath_);
}

void H1TcpTest::OpenDriver(std::string_view map) {
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  mapPath_ = (std::filesystem::temp_directory_path() /
              (std::string("h1tcp-") + test->test_suite_name() + "-" + test->name() + ".map"))
                 .string();
  std::ofstream(mapPath_, std::ios::binary) << map;
  setenv("TAV_H1TCP_MAP", mapPath_.c_str(), 1);
  ASSERT_EQ(H1OpenDriver(), kOk);
}

uint16_t H1TcpTest::OpenS7(std::string_view address, uint8_t slot) {
  ConnectRecord record{};
  FillAddress(record, address);
  record.remoteTsapLength = 2;
  record.remoteTsap[0] = 0x03;
  record.remoteTsap[1] = slot;
  record.localTsapLength = 2;
  record.localTsap[0] = 0x01;
  record.localTsap[1] = 0x01;
  EXPECT_EQ(H1OpenS7Connection(&record, 0), kOk);
  EXPECT_EQ(record.statusWord, kOpenStatusPending);
  return record.connection;
}

uint16_t H1TcpTest::OpenS5(std::string_view address, std::string_view ltsap, std::string_view rtsap,
                           uint16_t previous) {
  ConnectRecord record{};
  FillAddress(record, address);
  FillTsap(record.remoteTsap, record.remoteTsapLength, rtsap);
  FillTsap(record.localTsap, record.localTsapLength, ltsap);
  record.connection = previous;
  EXPECT_EQ(H1OpenS5Connection(&record), kOk);
  return record.connection;
}

uint16_t H1TcpTest::WaitState(uint16_t connection, int polls) {
  uint16_t result = 0;
  for (int poll = 0; poll < polls; ++poll) {
    result = H1ConnectionState(connection);
    if (result == kOk) break;
    Pause();
  }
  return result;
}

uint16_t H1TcpTest::Read(uint16_t connection, uint16_t areaKind, uint16_t block, uint16_t start,
                         uint16_t length, uint16_t& statusWord, int polls) {
  RequestRecord request{connection, areaKind, block, start, length};
  if (const uint16_t sent = H1SendReadRequest(&request); sent != kOk) return sent;
  uint16_t result = 0;
  for (int poll = 0; poll < polls; ++poll) {
    result = H1ReceiveReadData(sizeof buffer, buffer, &statusWord, connection);
    if (!IsWaiting(result)) break;
    Pause();
  }
  return result;
}

uint16_t H1TcpTest::Write(uint16_t connection, uint16_t areaKind, uint16_t block, uint16_t start,
                          uint16_t length, uint16_t& statusWord, int polls) {
  RequestRecord request{connection, areaKind, block, start, length};
  if (const uint16_t sent = H1SendWriteRequest(&request, buffer); sent != kOk) return sent;
  uint16_t result = 0;
  for (int poll = 0; poll < polls; ++poll) {
    result = H1ReceiveWriteAcknowledge(&statusWord, connection);
    if (!IsWaiting(result)) break;
    Pause();
  }
  return result;
}

}  // namespace tav::h1tcp::test
