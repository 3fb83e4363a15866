// What the H1 benchmarks' pinger and echo (frame_echo.h) send each other: plain H1 frames, no
// class 4 connection, shaped as the driver's own traffic is.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tav::bench {

using EchoAddress = std::array<uint8_t, 6>;

// The answer of one minimal frame, and the S5 answer of 10,000 bytes: 16 bytes of header and the
// data, in DTs of 1,024-byte TPDUs (9 octets of DT header with the checksum) under a credit of 8.
inline constexpr size_t kMinimalTpduBytes = 5;
inline constexpr size_t kBlockBytes = 10'000;
inline constexpr size_t kTpduBytes = 1024;
inline constexpr size_t kDtHeaderBytes = 9;
inline constexpr size_t kAnswerDts =
    (kBlockBytes + 16 + kTpduBytes - kDtHeaderBytes - 1) / (kTpduBytes - kDtHeaderBytes);
inline constexpr size_t kCredit = 8;
// A DT of one octet, end of TSDU: what the pinger sends as request and as acknowledgement.
inline constexpr std::array<uint8_t, 5> kPingTpdu{0x04, 0xF0, 0x00, 0x01, 0x80};

// The echoes' addresses: one answers one minimal frame, the other the block's DTs.
inline constexpr EchoAddress kEcho{0x02, 0x00, 0x00, 0x00, 0xEC, 0x40};
inline constexpr EchoAddress kBlockEcho{0x02, 0x00, 0x00, 0x00, 0xEC, 0x42};

// How the table of the Wine benchmark (h1eth_dll_bench.cpp) begins: its build machine's side
// looks for it.
inline constexpr const char* kWineBenchHeading = "libh1eth's DLL under Wine";

}  // namespace tav::bench
