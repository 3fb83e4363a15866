// The integer S5 float conversions against the C library computation they replaced
// (s5_float_oracle.h), bit for bit: every exponent with the significands at the edges of its
// range, and a fixed-seed sample of further patterns.
//
// The sample's size: TAV_S5_FLOAT_SAMPLE in the environment (a count, or `all` for every one of
// the 2^32 S5 floats and singles), else 2^25 patterns in an optimised native build, 2^22 in an
// unoptimised one, 2^21 under AddressSanitizer (linux-debug) and 2^18 on 32-bit x86 (linux-i686,
// whose tests run emulated): a few seconds each. The linux-release build compiles this file as
// bench/s5_float_exhaustive, which README's exhaustive command runs with `all`.

#include "s5_float_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "vocabulary/s5_float.h"

namespace tav {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr uint64_t kDefaultSample = uint64_t{1} << 21;
#elif defined(__i386__)
constexpr uint64_t kDefaultSample = uint64_t{1} << 18;
#elif !defined(__OPTIMIZE__)
constexpr uint64_t kDefaultSample = uint64_t{1} << 22;
#else
constexpr uint64_t kDefaultSample = uint64_t{1} << 25;
#endif
constexpr uint64_t kEveryPattern = uint64_t{1} << 32;

// How many patterns the sampled comparisons cover; kEveryPattern means all of them, in order.
uint64_t SampleSize() {
  const char* text = std::getenv("TAV_S5_FLOAT_SAMPLE");
  if (text == nullptr || *text == '\0') return kDefaultSample;
  if (std::strcmp(text, "all") == 0) return kEveryPattern;
  return std::strtoull(text, nullptr, 0);
}

// SplitMix64: a fixed sequence of well-spread 64-bit values.
struct Sequence {
  uint64_t state = 0x5EED'0000'0000'0012;
  uint64_t Next() {
    uint64_t z = (state += 0x9E37'79B9'7F4A'7C15);
    z = (z ^ (z >> 30)) * 0xBF58'476D'1CE4'E5B9;
    z = (z ^ (z >> 27)) * 0x94D0'49BB'1331'11EB;
    return z ^ (z >> 31);
  }
};

// The first sampled 32-bit pattern that `matches` rejects, or none: all patterns in order, or a
// fixed-seed sample.
template <class Matches>
std::optional<uint32_t> FirstMismatch(Matches matches) {
  const uint64_t size = SampleSize();
  if (size >= kEveryPattern) {
    for (uint64_t pattern = 0; pattern < kEveryPattern; ++pattern) {
      if (!matches(static_cast<uint32_t>(pattern))) return static_cast<uint32_t>(pattern);
    }
    return std::nullopt;
  }
  Sequence sequence;
  for (uint64_t i = 0; i < size; ++i) {
    const auto pattern = static_cast<uint32_t>(sequence.Next());
    if (!matches(pattern)) return pattern;
  }
  return std::nullopt;
}

// Every value of the top 8 bits with each of `low` in the 24 bits below.
std::vector<uint32_t> EveryExponentWith(const std::vector<uint32_t>& low) {
  std::vector<uint32_t> patterns;
  for (uint32_t top = 0; top < 256; ++top) {
    for (uint32_t bits : low) patterns.push_back(top << 24 | bits);
  }
  return patterns;
}

// 16 values on each side of `edge`, kept to 24 bits.
void AddAround(std::vector<uint32_t>& values, uint32_t edge) {
  for (uint32_t d = 0; d < 16; ++d) {
    values.push_back((edge + d) & 0xFF'FFFF);
    values.push_back((edge - 1 - d) & 0xFF'FFFF);
  }
}

// S5 floats: every exponent with mantissas around 0 and −1 (the smallest magnitudes, whose last
// bits decide a subnormal single's rounding), ±0.5 and −1 (the normalised edges).
std::vector<uint32_t> EdgeS5Floats() {
  std::vector<uint32_t> mantissas;
  for (uint32_t edge : {0x00'0000u, 0x40'0000u, 0x80'0000u, 0xC0'0000u}) AddAround(mantissas, edge);
  return EveryExponentWith(mantissas);
}

// Singles: every exponent field and sign with fractions near 0 and near the top, and near the
// fractions of a subnormal 2^-129, 2^-128 and 2^-127 (the clamp and the normalisation limit).
std::vector<uint32_t> EdgeSingles() {
  std::vector<uint32_t> fractions;
  for (uint32_t edge : {0x00'0000u, 0x10'0000u, 0x20'0000u, 0x40'0000u}) {
    AddAround(fractions, edge);
  }
  std::vector<uint32_t> singles;
  for (uint32_t top = 0; top < 512; ++top) {
    for (uint32_t fraction : fractions) singles.push_back(top << 23 | (fraction & 0x7F'FFFF));
  }
  return singles;
}

// Both decoders agree with the oracle: the double bit for bit, the single as its rounding.
bool DecodesLikeTheOracle(uint32_t s5) {
  const double expected = oracle::DecodeS5Float(s5);
  return std::bit_cast<uint64_t>(DecodeS5Float(s5)) == std::bit_cast<uint64_t>(expected) &&
         std::bit_cast<uint32_t>(DecodeS5FloatToSingle(s5)) ==
             std::bit_cast<uint32_t>(static_cast<float>(expected));
}

std::string DecodingsOf(uint32_t s5) {
  std::ostringstream text;
  text << std::hex << "S5 float " << s5 << ": single "
       << std::bit_cast<uint32_t>(DecodeS5FloatToSingle(s5)) << ", expected "
       << std::bit_cast<uint32_t>(static_cast<float>(oracle::DecodeS5Float(s5))) << "; double "
       << std::hexfloat << DecodeS5Float(s5) << ", expected " << oracle::DecodeS5Float(s5);
  return text.str();
}

// Both encoders, and the single's loop form, agree with the oracle on a single.
bool EncodesLikeTheOracle(uint32_t singleBits) {
  const auto value = std::bit_cast<float>(singleBits);
  const uint32_t expected = oracle::EncodeS5Float(value);
  return EncodeSingleToS5Float(value) == expected && EncodeS5Float(value) == expected &&
         s5_float_detail::EncodeSingleByMasks(value) == expected;
}

std::string EncodingsOf(uint32_t singleBits) {
  const auto value = std::bit_cast<float>(singleBits);
  std::ostringstream text;
  text << std::hex << "single " << singleBits << ": " << EncodeSingleToS5Float(value)
       << " from the single, " << s5_float_detail::EncodeSingleByMasks(value) << " in loops, "
       << EncodeS5Float(value) << " from the double, expected " << oracle::EncodeS5Float(value);
  return text.str();
}

TEST(S5FloatOracle, DecodingMatchesAtEveryExponentsEdges) {
  for (uint32_t s5 : EdgeS5Floats()) ASSERT_TRUE(DecodesLikeTheOracle(s5)) << DecodingsOf(s5);
}

TEST(S5FloatOracle, DecodingMatchesOverTheSample) {
  const auto mismatch = FirstMismatch([](uint32_t s5) { return DecodesLikeTheOracle(s5); });
  EXPECT_FALSE(mismatch.has_value()) << DecodingsOf(mismatch.value_or(0));
}

TEST(S5FloatOracle, EncodingSinglesMatchesAtEveryExponentsEdges) {
  for (uint32_t single : EdgeSingles()) {
    ASSERT_TRUE(EncodesLikeTheOracle(single)) << EncodingsOf(single);
  }
}

TEST(S5FloatOracle, EncodingSinglesMatchesOverTheSample) {
  const auto mismatch = FirstMismatch([](uint32_t single) { return EncodesLikeTheOracle(single); });
  EXPECT_FALSE(mismatch.has_value()) << EncodingsOf(mismatch.value_or(0));
}

// Doubles carry 29 more significand bits than singles, which the encoder rounds off: doubles of
// every exponent the format reaches (and a few beyond), with random low bits, with low bits an
// exact half and one unit either side of it, and the clamping bounds with their neighbours.
TEST(S5FloatOracle, EncodingDoublesMatches) {
  const auto matches = [](double value) {
    return EncodeS5Float(value) == oracle::EncodeS5Float(value);
  };
  for (double bound : {kS5FloatLowerBound, kS5FloatUpperBound}) {
    const auto bits = std::bit_cast<uint64_t>(bound);
    for (uint64_t neighbour : {bits - 1, bits, bits + 1}) {
      for (double value : {std::bit_cast<double>(neighbour), -std::bit_cast<double>(neighbour)}) {
        ASSERT_TRUE(matches(value)) << std::hexfloat << value;
      }
    }
  }
  constexpr uint64_t kHalf = uint64_t{1} << 29;  // of the 30 significand bits rounded off
  constexpr uint64_t kDropped = 2 * kHalf - 1;
  const uint64_t count = std::min<uint64_t>(SampleSize(), kEveryPattern / 16);
  Sequence sequence;
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t random = sequence.Next();
    const uint64_t exponent = 1023 - 140 + random % 281;  // 2^-140 to 2^140
    uint64_t fraction = sequence.Next() & 0xF'FFFF'FFFF'FFFF;
    const uint64_t low[] = {fraction & kDropped, kHalf, kHalf - 1, kHalf + 1};
    fraction = (fraction & ~kDropped) | low[random >> 60 & 3];
    const auto value = std::bit_cast<double>((random >> 63) << 63 | exponent << 52 | fraction);
    ASSERT_TRUE(matches(value)) << std::hexfloat << value << ": " << std::hex
                                << EncodeS5Float(value) << ", expected "
                                << oracle::EncodeS5Float(value);
  }
}

}  // namespace
}  // namespace tav
