#include "driver_host.h"

#include <bit>
#include <cstring>
#include <fstream>
#include <random>

#include "abi/address_block.h"

namespace tav::e2e {

namespace {

std::string StationFileName(int32_t driverNumber) {
  std::string name = "tavSH1";
  if (driverNumber >= 0 && driverNumber < 10) name += '0';  // two digits at least
  return name.append(std::to_string(driverNumber)).append(".int");
}

// Lines of the station dump that the driver logs for every station it reads.
bool IsStationDump(std::string_view text) {
  return text.starts_with("TavSH1: ====") || text.starts_with("TavSH1: PLC # ");
}

}  // namespace

HostBytes Words(std::initializer_list<uint16_t> values) {
  HostBytes bytes;
  for (uint16_t value : values) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
  }
  return bytes;
}

HostBytes DWords(std::initializer_list<uint32_t> values) {
  HostBytes bytes;
  for (uint32_t value : values) {
    for (int shift = 0; shift < 32; shift += 8)
      bytes.push_back(static_cast<uint8_t>(value >> shift));
  }
  return bytes;
}

HostBytes Floats(std::initializer_list<float> values) {
  HostBytes bytes;
  for (float value : values) {
    const HostBytes one = DWords({std::bit_cast<uint32_t>(value)});
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  return bytes;
}

HostBytes Text(const char* text) {
  return HostBytes(text, text + std::strlen(text));
}

DriverHostTest::DriverHostTest(const char* prefix) {
  HostLog().clear();
  previousDirectory_ = std::filesystem::current_path();
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = std::string(prefix) + test->test_suite_name() + "-" + test->name() + "-";
  std::random_device random;
  do {
    directory_ = std::filesystem::temp_directory_path() / (name + std::to_string(random()));
  } while (!std::filesystem::create_directories(directory_));
  std::filesystem::current_path(directory_);
}

DriverHostTest::~DriverHostTest() {
  std::filesystem::current_path(previousDirectory_);
  std::filesystem::remove_all(directory_);
}

void DriverHostTest::WriteFile(const char* name, std::string_view text) const {
  std::ofstream(directory_ / name, std::ios::binary) << text;
}

void DriverHostTest::WriteStationFile(int32_t driverNumber, std::string_view text) const {
  WriteFile(StationFileName(driverNumber).c_str(), text);
}

int32_t DriverHostTest::Initialise(int32_t timeout, int32_t driverNumber) {
  InitBlock block{{}, 1, timeout};
  return Run(CommandCode::kInitialise, &block, driverNumber);
}

int32_t DriverHostTest::Reconnect(int32_t station) {
  ReconnectBlock block{station};
  return Run(CommandCode::kReconnect, &block);
}

TransferBlock DriverHostTest::Tag(const char* address, int32_t hostType) {
  AddressBlock parsed{};
  parsed.addressText = address;
  parsed.hostDataType = hostType;
  EXPECT_EQ(Run(CommandCode::kParseAddress, &parsed), 0) << address;
  return TransferBlockFor(parsed, address, 0, nullptr);
}

int32_t DriverHostTest::Transfer(CommandCode command, TransferBlock block, int32_t count,
                                 void* data) {
  block.count = count;
  block.data = data;
  return Run(command, &block);
}

HostBytes DriverHostTest::ReadBlock(const char* address, int32_t hostType, int32_t count,
                                    size_t size) {
  HostBytes host(size, 0xEE);
  EXPECT_EQ(Transfer(CommandCode::kReadBlock, Tag(address, hostType), count, host.data()), 0)
      << address;
  return host;
}

void DriverHostTest::ExpectRoundTrips(std::span<const RoundTrip> rows) {
  for (const RoundTrip& row : rows) {
    SCOPED_TRACE(row.address);
    HostBytes host = row.host;
    ASSERT_EQ(
        Transfer(CommandCode::kWriteBlock, Tag(row.address, row.hostType), row.count, host.data()),
        0);
    EXPECT_EQ(ReadBlock(row.address, row.hostType, row.count, host.size()), row.host);
  }
  std::string logged;
  for (const HostLogLine& line : HostLog()) logged += line.text + '\n';
  EXPECT_EQ(logged, "");
}

std::vector<std::string> DriverHostTest::Messages() const {
  std::vector<std::string> messages;
  for (const HostLogLine& line : HostLog()) {
    if (!IsStationDump(line.text)) messages.push_back(line.text);
  }
  return messages;
}

}  // namespace tav::e2e
