// The connection-oriented transport protocol's TPDUs (ISO 8073, RFC 905), for every class: class 0
// as ISO on TCP carries it, and class 4 as a transport over Ethernet carries it, with references,
// the checksum parameter and normal or extended numbering. Encode builds one TPDU from its fields;
// Decode reads one back, checking every length against the bytes given, and returns nothing for a
// malformed TPDU. What a transport does with them (credit, retransmission, timers) is its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tav::cotp {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

// The TPDU kinds by their code (the high four bits of the second octet).
enum class Kind : uint8_t {
  kConnectionRequest = 0xE0,     // CR
  kConnectionConfirm = 0xD0,     // CC
  kDisconnectRequest = 0x80,     // DR
  kDisconnectConfirm = 0xC0,     // DC
  kData = 0xF0,                  // DT
  kExpeditedData = 0x10,         // ED
  kDataAcknowledge = 0x60,       // AK
  kExpeditedAcknowledge = 0x20,  // EA
  kError = 0x70,                 // ER
};

// How a connection numbers its data TPDUs, agreed in the connection request's options: 7-bit
// numbers (credit in four bits) or 31-bit numbers (credit in sixteen bits).
enum class Numbering : uint8_t { kNormal, kExtended };

// The class and options octet of CR and CC.
inline constexpr uint8_t kClass0 = 0x00;
inline constexpr uint8_t kClass4 = 0x40;
inline constexpr uint8_t kOptionExtendedFormats = 0x02;
inline constexpr uint8_t kOptionNoExplicitFlowControl = 0x01;

// Parameter codes of the variable part.
inline constexpr uint8_t kParamTpduSize = 0xC0;
inline constexpr uint8_t kParamCallingTsap = 0xC1;  // ER: the invalid TPDU
inline constexpr uint8_t kParamCalledTsap = 0xC2;
inline constexpr uint8_t kParamChecksum = 0xC3;
inline constexpr uint8_t kParamVersion = 0xC4;
inline constexpr uint8_t kParamAdditionalOptions = 0xC6;
inline constexpr uint8_t kParamAdditionalInformation = 0xE0;  // DR

// Disconnect reasons a DR carries.
inline constexpr uint8_t kReasonNormal = 0x80;

// The parameters of the variable part this codec reads and writes. Encode writes what is set;
// Decode sets what it found and skips parameters it does not know.
struct Parameters {
  std::optional<uint8_t> tpduSizeCode;  // the largest TPDU as a power of two, 7 (128) to 13 (8192)
  std::optional<Bytes> callingTsap;     // CR/CC: calling TSAP; ER: the invalid TPDU
  std::optional<Bytes> calledTsap;
  std::optional<uint8_t> version;
  std::optional<uint8_t> additionalOptions;
  std::optional<Bytes> additionalInformation;  // DR
};

struct Tpdu {
  Kind kind = Kind::kData;
  uint16_t destinationReference = 0;  // every kind but class 0's DT
  uint16_t sourceReference = 0;       // CR, CC, DR, DC
  uint8_t classOptions = kClass0;     // CR, CC
  uint16_t credit = 0;                // CR, CC (four bits), AK (four or sixteen bits)
  uint8_t reason = 0;                 // DR: disconnect reason; ER: reject cause
  uint32_t number = 0;                // DT, ED: its number; AK, EA: the next expected
  bool endOfTsdu = false;             // DT, ED
  Parameters parameters;
  ByteView userData;  // DT, ED, CR, CC, DR; Decode points it into the bytes it was given
};

// The shape of a connection's TPDUs: class 0 DTs carry no reference; class 4 may carry a checksum
// in every TPDU and number in extended format.
struct Format {
  bool class0 = true;
  Numbering numbering = Numbering::kNormal;
  bool checksum = false;
};

Bytes Encode(const Tpdu& tpdu, const Format& format);
// One whole TPDU; with format.checksum, one whose checksum does not hold is malformed (a CR or
// CC is checked when it carries the parameter).
std::optional<Tpdu> Decode(ByteView bytes, const Format& format);

// The checksum of ISO 8073: the two octets that make the sums of `tpdu` zero modulo 255, for a
// TPDU whose checksum octets lie at `at` and are zero; and whether the sums of a TPDU are zero.
std::array<uint8_t, 2> ChecksumOctets(ByteView tpdu, size_t at);
bool ChecksumHolds(ByteView tpdu);

// A disconnect reason in words.
const char* DisconnectReasonText(uint8_t reason);

// The TPDU size a size code stands for; 0 for a code out of range.
size_t TpduBytesOf(uint8_t sizeCode);

}  // namespace tav::cotp
