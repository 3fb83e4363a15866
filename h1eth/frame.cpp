#include "h1eth/frame.h"

#include <algorithm>
#include <cstring>

#include "vocabulary/byte_order.h"

namespace tav::h1eth {

Bytes EncodeFrame(const EthernetAddress& destination, const EthernetAddress& source,
                  ByteView tpdu) {
  Bytes frame;
  EncodeFrame(destination, source, tpdu, frame);
  return frame;
}

void EncodeFrame(const EthernetAddress& destination, const EthernetAddress& source, ByteView tpdu,
                 Bytes& frame) {
  frame.clear();
  if (tpdu.size() > kLargestTpduBytes) return;
  const size_t length = kLlcAndNetworkBytes + tpdu.size();
  FrameHeader header{destination,          source,         {},
                     kIsoNetworkSap,       kIsoNetworkSap, kUnnumberedInformation,
                     kInactiveNetworkLayer};
  StoreBe16(header.length.data(), static_cast<uint16_t>(length));
  // The header is octets only, laid out as on the wire (asserted in the header file).
  const auto* octets = reinterpret_cast<const uint8_t*>(&header);
  frame.assign(octets, octets + kFrameHeaderBytes);
  frame.insert(frame.end(), tpdu.begin(), tpdu.end());
  if (frame.size() < kMinimumFrameBytes) frame.resize(kMinimumFrameBytes, 0);
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
