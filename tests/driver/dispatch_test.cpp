#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <string>

#include "driver/initialise.h"
#include "support/driver_test.h"

namespace tav {
namespace {

using fake::DriverTest;

class DispatchTest : public DriverTest {};

TEST_F(DispatchTest, CodesWithoutHandlerReturnOneAndTouchNothing) {
  uint8_t parameters[64];
  std::memset(parameters, 0xA5, sizeof parameters);
  const DriverInstance before = instance();

  for (int32_t code : {0, 8, 9, 16, 17, 255, -1, -15, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(code);
    Request request{&instance(), code, 0, 0, parameters};
    EXPECT_EQ(TavMain(&request), 1);
  }

  EXPECT_EQ(std::memcmp(&before, &instance(), sizeof before), 0);
  for (uint8_t byte : parameters) EXPECT_EQ(byte, 0xA5);
  EXPECT_TRUE(fake::LogLines().empty());
  EXPECT_TRUE(fake::H1().Calls().empty());
}

TEST_F(DispatchTest, NullRequestReturnsOne) {
  EXPECT_EQ(TavMain(nullptr), 1);
}

TEST_F(DispatchTest, HandlerResultReachesTheHostUnchanged) {
  InfoBlock info{};
  EXPECT_EQ(Run(CommandCode::kDriverInformation, &info), 0);
  EXPECT_EQ(Run(CommandCode::kDriverInformation, nullptr), 1);
}

TEST_F(DispatchTest, InitialiseRefusesNullRecordsWithTwoAndWritesNothing) {
  InitBlock init{{}, 1, 10};
  Request noInstance = MakeRequest(nullptr, CommandCode::kInitialise, &init);
  EXPECT_EQ(TavMain(&noInstance), 2);
  EXPECT_EQ(Run(CommandCode::kInitialise, nullptr), 2);
  EXPECT_TRUE(fake::LogLines().empty());
}

TEST_F(DispatchTest, DisabledInitialiseLogsOnlyTheVersionLine) {
  instance().retryBudget = 1234;
  instance().plcTable[3].plcType = 5;
  InitBlock init{{}, 0, 10};

  EXPECT_EQ(Run(CommandCode::kInitialise, &init), 0);

  ASSERT_EQ(fake::LogLines().size(), 1u);
  const fake::LogLine& line = fake::LogLines()[0];
  EXPECT_EQ(line.level, 32);
  EXPECT_TRUE(line.format.starts_with("TavSH1: Siemens Ethernet driver,Version 8.20 compiled on "));
  EXPECT_EQ(line.format, line.text) << "the version line is a format without arguments";
  EXPECT_EQ(instance().activeFlag, 0);
  EXPECT_EQ(instance().retryBudget, 1234);
  EXPECT_EQ(instance().plcTable[3].plcType, 5);
  EXPECT_TRUE(fake::H1().Calls().empty());
}

TEST(VersionLine, CarriesTheBuildDateAndTimeInTheirFixedColumns) {
  // "... compiled on Mmm dd yyyy at hh:mm:ss": the day right-aligned in two characters.
  const std::string line = kVersionLine;
  const std::string prefix = "TavSH1: Siemens Ethernet driver,Version 8.20 compiled on ";
  ASSERT_EQ(line.size(), prefix.size() + 11 + 4 + 8);
  const std::string date = line.substr(prefix.size(), 11);
  EXPECT_TRUE(std::isupper(static_cast<unsigned char>(date[0])));
  EXPECT_EQ(date[3], ' ');
  EXPECT_TRUE(date[4] == ' ' || std::isdigit(static_cast<unsigned char>(date[4])));
  EXPECT_EQ(date[6], ' ');
  EXPECT_EQ(line.substr(prefix.size() + 11, 4), " at ");
  const std::string time = line.substr(prefix.size() + 15);
  EXPECT_EQ(time[2], ':');
  EXPECT_EQ(time[5], ':');
}

}  // namespace
}  // namespace tav
