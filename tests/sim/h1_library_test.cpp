// The extern "C" operations: each forwards to the active network.
#include "platform/h1_library.h"

#include <gtest/gtest.h>

#include "sim/h1_codes.h"
#include "sim/network.h"
#include "sim/network_file.h"

namespace tav::sim {
namespace {

TEST(H1Library, StartsOnTheBuiltInNetwork) {
  InstallNetwork(DefaultNetwork());
  EXPECT_EQ(ActiveNetwork().stations().size(), DefaultNetwork().stations().size());
  EXPECT_NE(ActiveNetwork().Find("0A0B0C010201"), nullptr);
}

TEST(H1Library, ForwardsEveryOperationToTheActiveNetwork) {
  Network& network = InstallNetwork(Network());
  Station& station = network.Add(S7Station("0A0B0C010201", 2));
  station.AddBlock(DataBlock(1), 8);
  station.PutWord(DataBlock(1), 0, 0xBEEF);

  ASSERT_EQ(H1OpenDriver(), h1::kOk);
  ConnectRecord record{};
  record.addressLength = 6;
  const EthernetAddress address = station.config().address;
  std::copy(address.begin(), address.end(), record.ethernetAddress);
  record.remoteTsapLength = 2;
  record.remoteTsap[0] = 0x03;
  record.remoteTsap[1] = 2;
  ASSERT_EQ(H1OpenS7Connection(&record, 0), h1::kOk);
  EXPECT_EQ(H1ConnectionState(record.connection), h1::kOk);

  RequestRecord request{record.connection, 1, 1, 0, 2};
  uint8_t buffer[8] = {};
  uint16_t statusWord = 0xFFFF;
  ASSERT_EQ(H1SendReadRequest(&request), h1::kOk);
  ASSERT_EQ(H1ReceiveReadData(sizeof buffer, buffer, &statusWord, record.connection), h1::kOk);
  EXPECT_EQ(statusWord, 0);
  EXPECT_EQ(buffer[0], 0xBE);
  EXPECT_EQ(buffer[1], 0xEF);

  buffer[0] = 0x12;
  buffer[1] = 0x34;
  ASSERT_EQ(H1SendWriteRequest(&request, buffer), h1::kOk);
  ASSERT_EQ(H1ReceiveWriteAcknowledge(&statusWord, record.connection), h1::kOk);
  EXPECT_EQ(station.Word(DataBlock(1), 0), 0x1234);

  // A connection identifier travels in the low 16 bits of its argument.
  EXPECT_EQ(H1RestartConnection(0x1'0000u | record.connection), h1::kOk);
  EXPECT_EQ(H1ReleaseConnection(record.connection), h1::kOk);
  EXPECT_EQ(H1OpenS5Connection(&record), h1::kOk);
  EXPECT_EQ(H1CloseDriver(), h1::kOk);
  EXPECT_EQ(network.CallCount(Operation::kConnectionState), 1);
  EXPECT_EQ(network.exchanges().size(), 2u);
}

}  // namespace
}  // namespace tav::sim
