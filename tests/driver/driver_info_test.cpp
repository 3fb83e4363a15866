#include "driver/driver_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/driver_test.h"

namespace tav {
namespace {

using fake::DriverTest;

// The banner written out independently, line by line, in code page 437 bytes.
std::string ExpectedBanner() {
  auto framed = [](const std::string& inner) { return "\xB3" + inner + "\xB3\n"; };
  const std::string edge(61, '\xC4');
  std::string title = " " + std::string(5, '\xDB') + std::string(6, '\xB2') +
                      std::string(6, '\xB1') + std::string(6, '\xB0') + " T A V S H 1 " +
                      std::string(6, '\xB0') + std::string(6, '\xB1') + std::string(6, '\xB2') +
                      std::string(5, '\xDB') + " ";
  return "\n"
         "\xDA" +
         edge + "\xBF\n" + framed(title) +
         framed(std::string(11, ' ') + "SIEMENS SIMATIC S5, Driver installed." +
                std::string(13, ' ')) +
         framed(std::string(4, ' ') + "Siemens SIMATIC S5 & S7 family, Indusrial Network (H1)" +
                std::string(3, ' ')) +
         framed(" Open driver - with simulated H1 stations for trying it out  ") + "\xC0" + edge +
         "\xD9\n";
}

TEST(Banner, IsTheFramedCodePage437TextByteForByte) {
  const std::string_view banner = DriverBanner();
  ASSERT_EQ(banner.size(), 385u);
  EXPECT_EQ(std::string(banner), ExpectedBanner());
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
