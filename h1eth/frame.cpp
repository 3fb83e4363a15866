#include "h1eth/frame.h"

#include <algorithm>
#include <cstring>

#include "vocabulary/byte_order.h"

namespace tav::h1eth {

Bytes EncodeFrame(const EthernetAddress& destination, const EthernetAddress& source,
                  ByteView tpdu) {
  if (tpdu.size() > kLargestTpduBytes) return {};
  const size_t length = kLlcAndNetworkBytes + tpdu.size();
  FrameHeader header{destination,          source,         {},
                     kIsoNetworkSap,       kIsoNetworkSap, kUnnumberedInformation,
                     kInactiveNetworkLayer};
  StoreBe16(header.length.data(), static_cast<uint16_t>(length));
  Bytes frame(std::max(kMinimumFrameBytes, kFrameHeaderBytes + tpdu.size()), 0);
  // The header is octets only, laid out as on the wire (asserted in the header file).
  std::memcpy(frame.data(), &header, kFrameHeaderBytes);
  std::copy(tpdu.begin(), tpdu.end(), frame.begin() + kFrameHeaderBytes);
  return frame;
}

std::optional<Frame> DecodeFrame(ByteView frame) {
  if (frame.size() < kFrameHeaderBytes) return std::nullopt;
  FrameHeader header{};
  std::memcpy(&header, frame.data(), kFrameHeaderBytes);
  const size_t length = LoadBe16(header.length.data());
  const size_t lengthStart = offsetof(FrameHeader, dsap);
  if (length > kLargestLengthField || length < kLlcAndNetworkBytes ||
      lengthStart + length > frame.size()) {
    return std::nullopt;
  }
  if (header.dsap != kIsoNetworkSap || header.ssap != kIsoNetworkSap ||
      header.control != kUnnumberedInformation || header.networkLayer != kInactiveNetworkLayer) {
    return std::nullopt;
  }
  return Frame{header.destination, header.source,
               frame.subspan(kFrameHeaderBytes, length - kLlcAndNetworkBytes)};
}

}  // namespace tav::h1eth
