#include "driver/driver_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>

#include "support/banner_text.h"
#include "support/driver_test.h"

namespace tav {
namespace {

using fake::DriverTest;

using tav::testing::kExpectedBanner;

TEST(Banner, IsTheFramedCodePage437TextByteForByte) {
  const std::string_view banner = DriverBanner();
  ASSERT_EQ(banner.size(), 385u);
  EXPECT_EQ(banner, kExpectedBanner);
  EXPECT_EQ(banner.data()[385], '\0') << "the banner is zero-terminated";
}

TEST(Banner, HasSixLinesOf63CharactersAfterALeadingLineFeed) {
  const std::string_view banner = DriverBanner();
  ASSERT_EQ(banner.front(), '\n');
  for (size_t line = 0; line < 6; ++line) {
    const size_t start = 1 + line * 64;
    SCOPED_TRACE(line);
    EXPECT_EQ(banner.substr(start, 63).find('\n'), std::string_view::npos);
    EXPECT_EQ(banner[start + 63], '\n');
  }
  // The notice line is the implementer's own but still framed and printable.
  const std::string_view notice = banner.substr(1 + 4 * 64, 63);
  EXPECT_EQ(notice.front(), '\xB3');
  EXPECT_EQ(notice.back(), '\xB3');
  for (char c : notice.substr(1, 61)) EXPECT_TRUE(c >= ' ' && c <= '~');
}

class DriverInformationTest : public DriverTest {};

TEST_F(DriverInformationTest, FillsTheInfoBlockAndLeavesTheHostsFieldsAlone) {
  InfoBlock info;
  std::memset(&info, 0xEE, sizeof info);
  Request request = MakeRequest(nullptr, CommandCode::kDriverInformation, &info);

  ASSERT_EQ(TavMain(&request), 0);

  EXPECT_EQ(info.infoTag, 82);
  EXPECT_STREQ(info.name, "SIEMENS, SIMATIC H1");
  EXPECT_EQ(std::string_view(info.banner), DriverBanner());
  EXPECT_EQ(info.instanceSize, 19936);
  EXPECT_EQ(info.infoVersion, 1);
  EXPECT_EQ(info.hostField1, 0xEEEEEEEEu);
  EXPECT_EQ(info.hostField2, 0xEEEEEEEEu);
  EXPECT_EQ(info.capabilityLevel, 3);
  EXPECT_TRUE(fake::LogLines().empty());
}

TEST_F(DriverInformationTest, TextsStayPutAcrossCalls) {
  InfoBlock first{}, second{};
  Run(CommandCode::kDriverInformation, &first);
  Run(CommandCode::kDriverInformation, &second);
  EXPECT_EQ(first.name, second.name);
  EXPECT_EQ(first.banner, second.banner);
}

TEST_F(DriverInformationTest, NullInfoBlockIsRefusedWithOne) {
  EXPECT_EQ(Run(CommandCode::kDriverInformation, nullptr), 1);
}

}  // namespace
}  // namespace tav
