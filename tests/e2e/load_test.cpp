#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "abi/driver_instance.h"
#include "loaded_driver.h"
#include "support/banner_text.h"

namespace tav::e2e {
namespace {

using tav::testing::kExpectedBanner;

TEST(LoadedLibrary, ExportsTavMainAndHidesEverythingElse) {
  LoadedDriver driver;
  ASSERT_TRUE(driver.loaded());
  EXPECT_EQ(driver.Symbol("_ZN3tav13ResetPlcTableERNS_14DriverInstanceE"), nullptr);
}

TEST(LoadedLibrary, DescribesItselfBeforeAnyInstanceExists) {
  LoadedDriver driver;
  ASSERT_TRUE(driver.loaded());
  InfoBlock info{};
  ASSERT_EQ(driver.Run(nullptr, tav::CommandCode::kDriverInformation, &info), 0);
  EXPECT_STREQ(info.name, "SIEMENS, SIMATIC H1");
  EXPECT_EQ(std::string_view(info.banner), kExpectedBanner);
  EXPECT_EQ(info.instanceSize, 19936);
}

TEST(LoadedLibrary, SendsItsMessagesToTheLoadingProcesssErr) {
  LoadedDriver driver;
  ASSERT_TRUE(driver.loaded());
  auto instance = std::make_unique<DriverInstance>();
  InitBlock disabled{{}, 0, 10};
  HostLog().clear();

  ASSERT_EQ(driver.Run(instance.get(), tav::CommandCode::kInitialise, &disabled), 0);

  ASSERT_EQ(HostLog().size(), 1u);
  EXPECT_EQ(HostLog()[0].level, 32);
  EXPECT_TRUE(HostLog()[0].text.starts_with("TavSH1: Siemens Ethernet driver,Version 8.20"));
}

TEST(LoadedLibrary, RefusesCodesWithoutHandler) {
  LoadedDriver driver;
  ASSERT_TRUE(driver.loaded());
  for (int32_t code : {0, 8, 9, 16}) EXPECT_EQ(driver.RunCode(nullptr, code, nullptr), 1);
}

}  // namespace
}  // namespace tav::e2e
