#include "plc_sessions/cotp.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tav::cotp {

namespace {

constexpr uint8_t kEndOfTsdu = 0x80;
constexpr uint8_t kExtendedEndOfTsdu = 0x80;  // the high bit of the four-octet number
constexpr uint8_t kMinSizeCode = 7;
constexpr uint8_t kMaxSizeCode = 13;
// The longest fixed part (LI, code, destination reference, a four-octet number and an
// extended AK's credit: 10 octets) with the checksum parameter (4), rounded up.
constexpr size_t kFixedPartRoom = 16;

// The octets of a kind's fixed part before its number, length indicator and code included.
struct FixedPart {
  Kind kind;
  bool destination;  // carries the destination reference
  bool source;       // carries the source reference and, for CR and CC, the class octet
  bool classOctet;
  bool reasonOctet;   // DR's reason, ER's cause
  bool numbered;      // DT, ED, AK, EA: a number in one or four octets
  bool endOfTsdu;     // DT, ED: the number carries the end mark
  bool creditInCode;  // CR, CC, normal AK: the credit in the code octet's low four bits
};
constexpr FixedPart kFixedParts[] = {
    {Kind::kConnectionRequest, true, true, true, false, false, false, true},
    {Kind::kConnectionConfirm, true, true, true, false, false, false, true},
    {Kind::kDisconnectRequest, true, true, false, true, false, false, false},
    {Kind::kDisconnectConfirm, true, true, false, false, false, false, false},
    {Kind::kData, true, false, false, false, true, true, false},
    {Kind::kExpeditedData, true, false, false, false, true, true, false},
    {Kind::kDataAcknowledge, true, false, false, false, true, false, true},
    {Kind::kExpeditedAcknowledge, true, false, false, false, true, false, false},
    {Kind::kError, true, false, false, true, false, false, false},
};

const FixedPart* FixedPartOf(uint8_t code) {
  for (const FixedPart& part : kFixedParts) {
    if (static_cast<uint8_t>(part.kind) == (code & 0xF0)) return &part;
  }
  return nullptr;
}

bool Extended(const Format& format) {
  return format.numbering == Numbering::kExtended;
}

// Class 0 numbers its DTs without a reference.
bool HasDestination(const FixedPart& part, const Format& format) {
  return part.destination && !(part.kind == Kind::kData && format.class0);
}

void Put16(Bytes& bytes, uint16_t value) {
  bytes.push_back(static_cast<uint8_t>(value >> 8));
  bytes.push_back(static_cast<uint8_t>(value));
}

uint16_t Get16(ByteView bytes, size_t at) {
  return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

void PutParameter(Bytes& bytes, uint8_t code, ByteView value) {
  bytes.push_back(code);
  bytes.push_back(static_cast<uint8_t>(value.size()));
  bytes.insert(bytes.end(), value.begin(), value.end());
}

// Calls `put(code, value)` for each parameter present, in the order they are sent.
template <typename Put>
void ForEachParameter(const Parameters& parameters, Put put) {
  const auto one = [&](uint8_t code, const std::optional<uint8_t>& value) {
    if (value) put(code, ByteView(&*value, 1));
  };
  const auto many = [&](uint8_t code, const std::optional<Bytes>& value) {
    if (value) put(code, ByteView(*value));
  };
  one(kParamTpduSize, parameters.tpduSizeCode);
  many(kParamCallingTsap, parameters.callingTsap);
  many(kParamCalledTsap, parameters.calledTsap);
  one(kParamVersion, parameters.version);
  one(kParamAdditionalOptions, parameters.additionalOptions);
  many(kParamAdditionalInformation, parameters.additionalInformation);
}

void PutParameters(Bytes& bytes, const Parameters& parameters) {
  ForEachParameter(parameters,
                   [&](uint8_t code, ByteView value) { PutParameter(bytes, code, value); });
}

// The octets of a TPDU: its fixed part and checksum within kFixedPartRoom, its parameters and
// its user data.
size_t EncodedOctets(const Tpdu& tpdu) {
  size_t octets = kFixedPartRoom + tpdu.userData.size();
  ForEachParameter(tpdu.parameters, [&](uint8_t, ByteView value) { octets += 2 + value.size(); });
  return octets;
}

// The variable part: what it holds, false when a parameter runs past it.
bool ParseParameters(ByteView part, Parameters& parameters, bool& checksum) {
  while (!part.empty()) {
    if (part.size() < 2 || size_t{part[1]} + 2 > part.size()) return false;
    const uint8_t code = part[0];
    const ByteView value = part.subspan(2, part[1]);
    const bool oneOctet = value.size() == 1;
    switch (code) {
      case kParamTpduSize:
        if (!oneOctet) return false;
        parameters.tpduSizeCode = value[0];
        break;
      case kParamCallingTsap:
        parameters.callingTsap.emplace(value.begin(), value.end());
        break;
      case kParamCalledTsap:
        parameters.calledTsap.emplace(value.begin(), value.end());
        break;
      case kParamChecksum:
        if (value.size() != 2) return false;
        checksum = true;
        break;
      case kParamVersion:
        if (!oneOctet) return false;
        parameters.version = value[0];
        break;
      case kParamAdditionalOptions:
        if (!oneOctet) return false;
        parameters.additionalOptions = value[0];
        break;
      case kParamAdditionalInformation:
        parameters.additionalInformation.emplace(value.begin(), value.end());
        break;
      default:
        break;  // a parameter this codec does not use
    }
    part = part.subspan(2 + value.size());
  }
  return true;
}

uint8_t Mod255(int64_t value) {
  const int64_t rest = ((value % 255) + 255) % 255;
  return static_cast<uint8_t>(rest == 0 ? 255 : rest);
}

// The checksum's two sums modulo 255, octet by octet: the first sums the octets, the second the
// first after each octet.
struct Sums {
  uint64_t c0 = 0;
  uint64_t c1 = 0;

  void Add(ByteView octets) {
    for (uint8_t octet : octets) {
      c0 += octet;
      c1 += c0;
    }
  }
};

#if defined(__SSE2__)
// Over sixteen octets from (c0, c1), the second sum grows by 16 c0 plus each octet weighted by
// its distance from the chunk's end (16 for the first, 1 for the last), and the first by their
// sum: psadbw gives the plain sums, pmaddwd the weighted ones, for a block of chunks at once.
constexpr size_t kChunkOctets = 16;
// A block's weighted sums stay below 2^32 in each lane (at most 255 * 31 a chunk).
constexpr size_t kChunksPerBlock = 4096;

size_t AddChunks(Sums& sums, ByteView octets) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i firstWeights = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
  const __m128i lastWeights = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
  size_t at = 0;
  while (octets.size() - at >= kChunkOctets) {
    const size_t chunks = std::min(kChunksPerBlock, (octets.size() - at) / kChunkOctets);
    __m128i plain = zero;     // the block's octets so far, in two 64-bit lanes
    __m128i before = zero;    // over the chunks, the block's octets before each chunk
    __m128i weighted = zero;  // over the chunks, each octet times its weight, in 32-bit lanes
    for (size_t chunk = 0; chunk < chunks; ++chunk, at += kChunkOctets) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(octets.data() + at));
      before = _mm_add_epi64(before, plain);
      plain = _mm_add_epi64(plain, _mm_sad_epu8(v, zero));
      weighted = _mm_add_epi32(
          weighted, _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(v, zero), firstWeights),
                                  _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), lastWeights)));
    }
    alignas(16) uint64_t plainLanes[2];
    alignas(16) uint64_t beforeLanes[2];
    alignas(16) uint32_t weightedLanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(plainLanes), plain);
    _mm_store_si128(reinterpret_cast<__m128i*>(beforeLanes), before);
    _mm_store_si128(reinterpret_cast<__m128i*>(weightedLanes), weighted);
    sums.c1 += kChunkOctets * (chunks * sums.c0 + beforeLanes[0] + beforeLanes[1]) +
               uint64_t{weightedLanes[0]} + weightedLanes[1] + weightedLanes[2] + weightedLanes[3];
    sums.c0 += plainLanes[0] + plainLanes[1];
  }
  return at;
}
#else
size_t AddChunks(Sums&, ByteView) { return 0; }
#endif

// Reduced once a stretch rather than at every octet: within a stretch of kSumStretch octets,
// from sums below 255, neither outgrows 64 bits (the second stays below 255 * (n + 1)^2).
constexpr size_t kSumStretch = size_t{1} << 20;

Sums SumsOf(ByteView tpdu) {
  Sums sums;
  for (size_t start = 0; start < tpdu.size(); start += kSumStretch) {
    const ByteView stretch = tpdu.subspan(start, std::min(kSumStretch, tpdu.size() - start));
    sums.Add(stretch.subspan(AddChunks(sums, stretch)));
    sums.c0 %= 255;
    sums.c1 %= 255;
  }
  return sums;
}

struct ReasonText {
  uint8_t reason;
  const char* text;
};
constexpr ReasonText kReasons[] = {
    {0x00, "reason not specified"},
    {0x01, "congestion at the TSAP"},
    {0x02, "no session entity attached to the TSAP"},
    {0x03, "address unknown"},
    {0x80, "normal disconnect"},
    {0x81, "congestion at the remote transport entity"},
    {0x82, "connection negotiation failed"},
    {0x83, "duplicate source reference"},
    {0x84, "mismatched references"},
    {0x85, "protocol error"},
    {0x87, "reference overflow"},
    {0x88, "connection request refused on this network connection"},
    {0x8A, "header or parameter length invalid"},
};

}  // namespace

const char* DisconnectReasonText(uint8_t reason) {
  for (const ReasonText& entry : kReasons) {
    if (entry.reason == reason) return entry.text;
  }
  return "unknown reason";
}

size_t TpduBytesOf(uint8_t sizeCode) {
  return sizeCode >= kMinSizeCode && sizeCode <= kMaxSizeCode ? size_t{1} << sizeCode : 0;
}

std::array<uint8_t, 2> ChecksumOctets(ByteView tpdu, size_t at) {
  const Sums sums = SumsOf(tpdu);
  const auto c0 = static_cast<int64_t>(sums.c0);
  const auto c1 = static_cast<int64_t>(sums.c1);
  // Positions count from 1: the first checksum octet is octet n of L.
  const auto length = static_cast<int64_t>(tpdu.size());
  const auto n = static_cast<int64_t>(at) + 1;
  return {Mod255(-c1 + (length - n) * c0), Mod255(c1 - (length - n + 1) * c0)};
}

bool ChecksumHolds(ByteView tpdu) {
  const Sums sums = SumsOf(tpdu);
  return sums.c0 == 0 && sums.c1 == 0;
}

Bytes Encode(const Tpdu& tpdu, const Format& format) {
  const FixedPart& part = *FixedPartOf(static_cast<uint8_t>(tpdu.kind));
  const bool extended = Extended(format);
  // Built in one allocation: a long TSDU is encoded once per DT it is cut into.
  Bytes bytes;
  bytes.reserve(EncodedOctets(tpdu));
  bytes.assign({0, static_cast<uint8_t>(tpdu.kind)});
  if (part.creditInCode && !(tpdu.kind == Kind::kDataAcknowledge && extended)) {
    bytes[1] |= static_cast<uint8_t>(tpdu.credit & 0x0F);
  }
  if (HasDestination(part, format)) Put16(bytes, tpdu.destinationReference);
  if (part.source) Put16(bytes, tpdu.sourceReference);
  if (part.classOctet) bytes.push_back(tpdu.classOptions);
  if (part.reasonOctet) bytes.push_back(tpdu.reason);
  if (part.numbered) {
    const uint8_t end = part.endOfTsdu && tpdu.endOfTsdu ? kEndOfTsdu : 0;
    if (extended) {
      const uint32_t number = tpdu.number & 0x7FFFFFFF;
      bytes.push_back(static_cast<uint8_t>((number >> 24) | (end != 0 ? kExtendedEndOfTsdu : 0)));
      bytes.push_back(static_cast<uint8_t>(number >> 16));
      Put16(bytes, static_cast<uint16_t>(number));
      if (tpdu.kind == Kind::kDataAcknowledge) Put16(bytes, tpdu.credit);
    } else {
      bytes.push_back(static_cast<uint8_t>(end | (tpdu.number & 0x7F)));
    }
  }
  size_t checksumAt = 0;
  if (format.checksum) {
    checksumAt = bytes.size() + 2;
    constexpr std::array<uint8_t, 2> kPlaceholder{};
    PutParameter(bytes, kParamChecksum, kPlaceholder);
  }
  PutParameters(bytes, tpdu.parameters);
  bytes[0] = static_cast<uint8_t>(bytes.size() - 1);
  bytes.insert(bytes.end(), tpdu.userData.begin(), tpdu.userData.end());
  if (format.checksum) {
    const std::array<uint8_t, 2> octets = ChecksumOctets(bytes, checksumAt);
    bytes[checksumAt] = octets[0];
    bytes[checksumAt + 1] = octets[1];
  }
  return bytes;
}

std::optional<Tpdu> Decode(ByteView bytes, const Format& format) {
  if (bytes.size() < 2) return std::nullopt;
  const size_t headerBytes = size_t{bytes[0]} + 1;
  const FixedPart* part = FixedPartOf(bytes[1]);
  if (part == nullptr || headerBytes > bytes.size()) return std::nullopt;
  const bool extended = Extended(format);
  Tpdu tpdu;
  tpdu.kind = part->kind;
  const bool creditInCode =
      part->creditInCode && !(tpdu.kind == Kind::kDataAcknowledge && extended);
  if (creditInCode) tpdu.credit = bytes[1] & 0x0F;
  size_t at = 2;
  // Whether the fixed part's next `size` octets lie inside the header.
  const auto has = [&](size_t size) { return at + size <= headerBytes; };
  if (HasDestination(*part, format)) {
    if (!has(2)) return std::nullopt;
    tpdu.destinationReference = Get16(bytes, at);
    at += 2;
  }
  if (part->source) {
    if (!has(2)) return std::nullopt;
    tpdu.sourceReference = Get16(bytes, at);
    at += 2;
  }
  if (part->classOctet || part->reasonOctet) {
    if (!has(1)) return std::nullopt;
    (part->classOctet ? tpdu.classOptions : tpdu.reason) = bytes[at++];
  }
  if (part->numbered) {
    if (extended) {
      const bool ack = tpdu.kind == Kind::kDataAcknowledge;
      if (!has(ack ? 6 : 4)) return std::nullopt;
      tpdu.endOfTsdu = part->endOfTsdu && (bytes[at] & kExtendedEndOfTsdu) != 0;
      tpdu.number = (uint32_t{Get16(bytes, at)} << 16 | Get16(bytes, at + 2)) & 0x7FFFFFFF;
      at += 4;
      if (ack) {
        tpdu.credit = Get16(bytes, at);
        at += 2;
      }
    } else {
      if (!has(1)) return std::nullopt;
      tpdu.endOfTsdu = part->endOfTsdu && (bytes[at] & kEndOfTsdu) != 0;
      tpdu.number = bytes[at++] & 0x7F;
    }
  }
  bool checksum = false;
  if (!ParseParameters(bytes.subspan(at, headerBytes - at), tpdu.parameters, checksum)) {
    return std::nullopt;
  }
  const ByteView whole = bytes;
  if (checksum && !ChecksumHolds(whole)) return std::nullopt;
  if (format.checksum && !checksum && tpdu.kind != Kind::kConnectionRequest) return std::nullopt;
  tpdu.userData = bytes.subspan(headerBytes);
  return tpdu;
}

}  // namespace tav::cotp
