#include "link.h"

#include <algorithm>

namespace tav::h1eth {

namespace {

constexpr size_t kHeaderBytes = 14;          // destination, source, length
constexpr size_t kLengthFieldLimit = 0x600;  // above: an EtherType, not an 802.3 length
constexpr uint8_t kH1Llc[] = {0xFE, 0xFE, 0x03};

}  // namespace

bool IsH1Frame(FrameView frame) {
  if (frame.size() < kHeaderBytes + sizeof kH1Llc) return false;
  const size_t length = static_cast<size_t>(frame[12] << 8 | frame[13]);
  return length < kLengthFieldLimit &&
         std::equal(std::begin(kH1Llc), std::end(kH1Llc), frame.begin() + kHeaderBytes);
}

}  // namespace tav::h1eth
