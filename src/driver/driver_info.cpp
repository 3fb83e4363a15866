#include "driver/driver_info.h"

#include <array>
#include <cstddef>

#include "abi/driver_instance.h"

namespace tav {
namespace {

constexpr int32_t kInfoTag = 82;
constexpr int32_t kInfoVersion = 1;
constexpr int32_t kCapabilityLevel = 3;

// Code page 437 box-drawing characters and shade blocks.
constexpr char kTopLeft = '\xDA';
constexpr char kHorizontal = '\xC4';
constexpr char kTopRight = '\xBF';
constexpr char kVertical = '\xB3';
constexpr char kBottomLeft = '\xC0';
constexpr char kBottomRight = '\xD9';
constexpr char kFullBlock = '\xDB';
constexpr char kDarkShade = '\xB2';
constexpr char kMediumShade = '\xB1';
constexpr char kLightShade = '\xB0';

constexpr size_t kBannerInnerWidth = 61;
constexpr size_t kBannerLines = 6;
constexpr size_t kBannerLength = 1 + kBannerLines * (kBannerInnerWidth + 3);

constexpr std::string_view kNotice = "Open driver - with simulated H1 stations for trying it out";

class BannerText {
 public:
  constexpr void Put(char c, size_t times = 1) {
    for (size_t i = 0; i < times; ++i) text_[length_++] = c;
  }
  constexpr void Put(std::string_view s) {
    for (char c : s) Put(c);
  }
  constexpr size_t length() const { return length_; }
  constexpr const char* data() const { return text_.data(); }

 private:
  std::array<char, kBannerLength + 1> text_{};  // zero-terminated
  size_t length_ = 0;
};

// A framed line: the vertical edge, `blanksBefore` blanks, the text, blanks to the frame width,
// the vertical edge and a line feed.
constexpr void PutFramedText(BannerText& banner, size_t blanksBefore, std::string_view text) {
  banner.Put(kVertical);
  banner.Put(' ', blanksBefore);
  banner.Put(text);
  banner.Put(' ', kBannerInnerWidth - blanksBefore - text.size());
  banner.Put(kVertical);
  banner.Put('\n');
}

constexpr void PutEdge(BannerText& banner, char left, char right) {
  banner.Put(left);
  banner.Put(kHorizontal, kBannerInnerWidth);
  banner.Put(right);
  banner.Put('\n');
}

constexpr void PutTitle(BannerText& banner) {
  banner.Put(kVertical);
  banner.Put(' ');
  banner.Put(kFullBlock, 5);
  banner.Put(kDarkShade, 6);
  banner.Put(kMediumShade, 6);
  banner.Put(kLightShade, 6);
  banner.Put(" T A V S H 1 ");
  banner.Put(kLightShade, 6);
  banner.Put(kMediumShade, 6);
  banner.Put(kDarkShade, 6);
  banner.Put(kFullBlock, 5);
  banner.Put(' ');
  banner.Put(kVertical);
  banner.Put('\n');
}

constexpr BannerText MakeBanner() {
  BannerText banner;
  banner.Put('\n');
  PutEdge(banner, kTopLeft, kTopRight);
  PutTitle(banner);
  PutFramedText(banner, 11, "SIEMENS SIMATIC S5, Driver installed.");
  PutFramedText(banner, 4, "Siemens SIMATIC S5 & S7 family, Indusrial Network (H1)");
  PutFramedText(banner, (kBannerInnerWidth - kNotice.size()) / 2, kNotice);
  PutEdge(banner, kBottomLeft, kBottomRight);
  return banner;
}

constexpr BannerText kBanner = MakeBanner();
static_assert(kBanner.length() == kBannerLength);
static_assert(kBannerLength == 385);

constexpr char kDriverNameText[] = "SIEMENS, SIMATIC H1";
static_assert(std::string_view(kDriverNameText) == kDriverName);

}  // namespace

std::string_view DriverBanner() {
  return {kBanner.data(), kBanner.length()};
}

CommandResult DriverInformation(const Request& request) {
  auto* info = static_cast<InfoBlock*>(request.parameters);
  if (info == nullptr) return 1;
  info->infoTag = kInfoTag;
  info->name = kDriverNameText;
  info->banner = kBanner.data();
  info->instanceSize = sizeof(DriverInstance);
  info->infoVersion = kInfoVersion;
  info->capabilityLevel = kCapabilityLevel;
  return 0;
}

}  // namespace tav
