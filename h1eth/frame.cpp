#include "h1eth/frame.h"

namespace tav::h1eth {

Bytes EncodeFrame(const EthernetAddress&, const EthernetAddress&, ByteView) {
  return {};
}

std::optional<Frame> DecodeFrame(ByteView) {
  return std::nullopt;
}

}  // namespace tav::h1eth
