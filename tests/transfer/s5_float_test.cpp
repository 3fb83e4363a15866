#include "vocabulary/s5_float.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace tav {
namespace {

float Single(uint32_t bits) {
  return std::bit_cast<float>(bits);
}

// An independent reading of the format: the mantissa as a signed 24-bit integer times a power of
// two, without the decoder's split into fraction and sign.
double ReferenceDecode(uint32_t s5) {
  const int32_t exponent = static_cast<int8_t>(s5 >> 24);
  int32_t mantissa = static_cast<int32_t>(s5 & 0xFF'FFFF);
  if (mantissa >= 1 << 23) mantissa -= 1 << 24;
  return mantissa * std::pow(2.0, exponent - 23);
}

// The nearest S5 float to a single inside the clamping bounds, from the single's integer
// significand: x = ±significand × 2^q with the significand scaled up to 24 bits. The mantissa is
// half the significand with an exact half rounded away from zero; E = q + 24 makes
// M × 2^(E − 23) = x. A positive carry to 2^23 and a negative −2^22 are renormalised, the
// latter only while the exponent stays above −127.
uint32_t ReferenceEncode(float value) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  const bool negative = (bits >> 31) != 0;
  const int biased = static_cast<int>(bits >> 23 & 0xFF);
  int64_t significand = bits & 0x7F'FFFF;
  int q = -149;
  if (biased != 0) {
    significand |= 1 << 23;
    q = biased - 150;
  }
  while (significand < (1 << 23)) {
    significand <<= 1;
    --q;
  }
  int exponent = q + 24;
  int64_t mantissa = (significand + 1) / 2;  // exact half away from zero
  if (negative) mantissa = -mantissa;
  if (mantissa == (1 << 23)) {
    mantissa = 1 << 22;
    ++exponent;
  }
  if (mantissa == -(1 << 22) && exponent > -127) {
    mantissa = -(1 << 23);
    --exponent;
  }
  return static_cast<uint32_t>(exponent & 0xFF) << 24 | static_cast<uint32_t>(mantissa & 0xFF'FFFF);
}

TEST(S5FloatBounds, AreTheirBitPatterns) {
  EXPECT_EQ(kS5FloatLowerBound, 1.469367093852786e-39);
  EXPECT_EQ(kS5FloatUpperBound, 1.7014110631780597e38);
  EXPECT_LT(kS5FloatLowerBound, std::ldexp(1.0, -129));
  EXPECT_GT(kS5FloatLowerBound, static_cast<double>(Single(0x0010'0000) - Single(1)));
  EXPECT_LT(kS5FloatUpperBound, std::ldexp(1.0, 127));
}

struct Worked {
  double input;
  uint32_t s5;
  double decoded;
};

TEST(S5Float, WorkedExamplesEncodeAndDecodeBitForBit) {
  const Worked examples[] = {
      {1.0, 0x0140'0000, 1.0},
      {-1.0, 0x0080'0000, -1.0},
      {0.5, 0x0040'0000, 0.5},
      {-0.5, 0xFF80'0000, -0.5},
      {0.75, 0x0060'0000, 0.75},
      {-0.75, 0x00A0'0000, -0.75},
      {100.0, 0x0764'0000, 100.0},
      {-100.0, 0x079C'0000, -100.0},
      {0.0, 0x8000'0000, 0.0},
      {-0.0, 0x8000'0000, 0.0},
      {Single(0x4049'0FDB), 0x0264'87EE, 3.1415929794311523},
      {-Single(0x4049'0FDB), 0x029B'7812, -3.1415929794311523},
      {16777215.0, 0x1940'0000, 16777216.0},
      {1e-10f, 0xDF6D'F380, 1.000000082740371e-10},
      {1e-39f, 0x8040'0000, 1.4693679385278594e-39},
      {-1e-39f, 0x80BF'FFFF, -1.4693682888524755e-39},
      {2e38f, 0x7F7F'FFFF, 1.7014116317805963e38},
      {-2e38f, 0x7F80'0000, -1.7014118346046923e38},
  };
  for (const Worked& example : examples) {
    SCOPED_TRACE(example.input);
    EXPECT_EQ(EncodeS5Float(example.input), example.s5);
    EXPECT_EQ(DecodeS5Float(example.s5), example.decoded);
  }
}

TEST(S5Float, DecodesPatternsTheEncoderNeverMakes) {
  const std::pair<uint32_t, double> patterns[] = {
      {0xFF40'0000, 0.25}, {0x0260'0000, 3.0}, {0x02A0'0000, -3.0},
      {0x00C0'0000, -0.5},  // not normalised
      {0x0000'0000, 0.0},  {0x7F00'0000, 0.0}, {0x8000'0000, 0.0},
  };
  for (const auto& [s5, value] : patterns) EXPECT_EQ(DecodeS5Float(s5), value) << std::hex << s5;
}

struct Clamp {
  const char* name;
  double input;
  uint32_t s5;
};

TEST(S5Float, ClampsAtTheBoundsAndForNonFiniteInputs) {
  const double inf = std::numeric_limits<double>::infinity();
  const Clamp clamps[] = {
      {"lower bound", kS5FloatLowerBound, 0x8040'0000},
      {"-lower bound", -kS5FloatLowerBound, 0x80BF'FFFF},
      {"upper bound", kS5FloatUpperBound, 0x7F7F'FFFF},
      {"-upper bound", -kS5FloatUpperBound, 0x7F80'0000},
      {"+infinity", inf, 0x7F7F'FFFF},
      {"-infinity", -inf, 0x7F80'0000},
      {"NaN", std::numeric_limits<double>::quiet_NaN(), 0x7F80'0000},
      {"-NaN", -std::numeric_limits<double>::quiet_NaN(), 0x7F80'0000},
      {"largest double", std::numeric_limits<double>::max(), 0x7F7F'FFFF},
      {"smallest subnormal double", std::numeric_limits<double>::denorm_min(), 0x8040'0000},
      {"-smallest subnormal double", -std::numeric_limits<double>::denorm_min(), 0x80BF'FFFF},
      {"smallest subnormal single", Single(1), 0x8040'0000},
      {"-smallest subnormal single", -Single(1), 0x80BF'FFFF},
      {"largest single below 2^-129", 1.469366537229395e-39, 0x8040'0000},
      {"largest single", std::numeric_limits<float>::max(), 0x7F7F'FFFF},
  };
  for (const Clamp& clamp : clamps) EXPECT_EQ(EncodeS5Float(clamp.input), clamp.s5) << clamp.name;
}

TEST(S5Float, RoundsAndNormalisesAtTheEdgesOfTheFormat) {
  const Clamp cases[] = {
      // 2^-129 itself is not clamped and encodes to the same pattern as the clamp.
      {"2^-129", std::ldexp(1.0, -129), 0x8040'0000},
      // All-ones significands carry into the next power of two, never into the sign bit.
      {"16777215", 16777215.0, 0x1940'0000},
      {"0.99999994", Single(0x3F7F'FFFF), 0x0140'0000},
      {"-0.99999994", -Single(0x3F7F'FFFF), 0x0080'0000},
      // Exact halves go to the neighbour of larger magnitude.
      {"8388607.5", 8388607.5, 0x1840'0000},
      {"-8388607.5", -8388607.5, 0x1780'0000},
      // -0.5 × 2^e is normalised while e stays above -127.
      {"-2^-127", -std::ldexp(1.0, -127), 0x8180'0000},
      {"-2^-128", -std::ldexp(1.0, -128), 0x81C0'0000},
      {"-2^-129", -std::ldexp(1.0, -129), 0x80C0'0000},
      {"-2^126", -std::ldexp(1.0, 126), 0x7E80'0000},
      // Subnormal singles above 2^-129 are encoded, not clamped.
      {"largest subnormal single", Single(0x007F'FFFF), 0x827F'FFFF},
      {"2^-128 (a subnormal single)", Single(0x0020'0000), 0x8140'0000},
  };
  for (const Clamp& edge : cases) {
    EXPECT_EQ(EncodeS5Float(edge.input), edge.s5)
        << edge.name << " gave " << std::hex << EncodeS5Float(edge.input);
  }
}

TEST(S5Float, TheSmallestPatternsDecodeBelowWhatASingleHolds) {
  EXPECT_EQ(DecodeS5Float(0x8000'0001), std::ldexp(1.0, -151));
  EXPECT_EQ(static_cast<float>(DecodeS5Float(0x8000'0001)), 0.0f);
  EXPECT_EQ(DecodeS5Float(0x80BF'FFFF), -(std::ldexp(1.0, -129) + std::ldexp(1.0, -151)));
}

// Every exponent with mantissas from both ends, the middle and a stride through the rest.
TEST(S5Float, DecodingAgreesWithTheReferenceFormula) {
  for (uint32_t exponent = 0; exponent < 256; ++exponent) {
    for (uint32_t mantissa = 0; mantissa < (1u << 24); mantissa += 4093) {
      for (uint32_t m : {mantissa, mantissa ^ 0xFF'FFFFu}) {
        const uint32_t s5 = exponent << 24 | m;
        ASSERT_EQ(DecodeS5Float(s5), ReferenceDecode(s5)) << std::hex << s5;
      }
    }
  }
}

// A stride through all single-precision patterns, both signs, inside the clamping bounds.
TEST(S5Float, EncodingAgreesWithTheReferenceFormula) {
  int checked = 0;
  for (uint64_t bits = 0; bits < (uint64_t{1} << 32); bits += 3001) {
    const float value = Single(static_cast<uint32_t>(bits));
    const double magnitude = std::fabs(static_cast<double>(value));
    if (!std::isfinite(value) || magnitude <= kS5FloatLowerBound ||
        magnitude >= kS5FloatUpperBound) {
      continue;
    }
    ASSERT_EQ(EncodeS5Float(value), ReferenceEncode(value))
        << std::hexfloat << value << " bits " << std::hex << bits;
    ++checked;
  }
  EXPECT_GT(checked, 1'000'000);
}

}  // namespace
}  // namespace tav
