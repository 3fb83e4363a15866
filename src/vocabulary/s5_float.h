// The S5 float: the 32-bit floating-point format of S5 stations. An 8-bit two's-complement
// exponent E in bits 31 to 24 and a 24-bit two's-complement mantissa M below it stand for
// M × 2^(E − 23), a fraction from −1 (included) to 1 (excluded) scaled by 2^E. Normalised values
// have bits 23 and 22 different; any M of 0 is zero. S7 stations hold IEEE 754 singles instead.
//
// Every conversion here works on the bit patterns with integer arithmetic and calls nothing, so
// that block transfers run them in vectorised loops; none depends on the processor's rounding or
// flush-to-zero settings.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>

namespace tav {

// Inputs of the encoder at or inside ±kS5FloatLowerBound (but not zero) become the smallest S5
// float of their sign; inputs at or beyond ±kS5FloatUpperBound become the largest. The lower bound
// lies just below 2^-129, the smallest normalised positive S5 float, and above the largest single
// below it; the upper bound lies just below 2^127.
inline constexpr double kS5FloatLowerBound = std::bit_cast<double>(uint64_t{0x37DF'FFFE'CB60'6242});
inline constexpr double kS5FloatUpperBound = std::bit_cast<double>(uint64_t{0x47DF'FFFF'0C94'A723});

// The encoder's fixed results.
inline constexpr uint32_t kS5FloatZero = 0x8000'0000;              // 0
inline constexpr uint32_t kS5FloatSmallestPositive = 0x8040'0000;  // 2^-129
inline constexpr uint32_t kS5FloatSmallestNegative = 0x80BF'FFFF;  // −(2^-129 + 2^-151)
inline constexpr uint32_t kS5FloatLargest = 0x7F7F'FFFF;           // (2^23 − 1) × 2^104
inline constexpr uint32_t kS5FloatMostNegative = 0x7F80'0000;      // −2^127

// The value of an S5 float, exact in double precision. Non-normalised patterns decode to the
// value they stand for (0x00C00000 is −0.5); every pattern with a zero mantissa decodes to 0.
double DecodeS5Float(uint32_t s5);

// The S5 float nearest to `value`, an exact half going to the neighbour of larger magnitude.
// Zero of either sign gives 0x80000000; values too small or too large for the format are clamped
// to the fixed results above; +infinity gives the largest S5 float, −infinity and NaN the most
// negative one. Exact for every single-precision input.
uint32_t EncodeS5Float(double value);

namespace s5_float_detail {

inline constexpr uint32_t kMantissaSign = 1u << 23;
inline constexpr uint32_t kMantissaTop = 1u << 22;  // the leading bit of a normalised mantissa
inline constexpr uint32_t kSingleSign = 1u << 31;
inline constexpr uint32_t kSingleMagnitude = kSingleSign - 1;
inline constexpr uint32_t kSingleHidden = 1u << 23;  // the implicit leading bit of a normal single
inline constexpr uint32_t kSingleFraction = kSingleHidden - 1;
inline constexpr uint32_t kSingleInfinity = 0x7F80'0000;
inline constexpr int32_t kSingleBias = 127;
inline constexpr int32_t kSingleFractionBits = 23;
inline constexpr uint32_t kSubnormalScale = 149;  // binades between a subnormal's unit and 1

// The largest single at or below a positive `bound`, and the smallest at or above it, as bit
// patterns: between positive singles, the order of their patterns is the order of their values.
constexpr uint32_t SingleAtMost(double bound) {
  const auto nearest = static_cast<float>(bound);
  const auto bits = std::bit_cast<uint32_t>(nearest);
  return static_cast<double>(nearest) > bound ? bits - 1 : bits;
}
constexpr uint32_t SingleAtLeast(double bound) {
  const auto nearest = static_cast<float>(bound);
  const auto bits = std::bit_cast<uint32_t>(nearest);
  return static_cast<double>(nearest) < bound ? bits + 1 : bits;
}

// Single magnitudes, as patterns, that the encoder clamps: up to the first (2^-129 is 0x00100000)
// and from the second on (infinity included).
inline constexpr uint32_t kClampedBelow = SingleAtMost(kS5FloatLowerBound);
inline constexpr uint32_t kClampedAbove = SingleAtLeast(kS5FloatUpperBound);
static_assert(kClampedBelow == 0x000F'FFFF && kClampedAbove == 0x7EFF'FFF9);

}  // namespace s5_float_detail

// The single nearest to an S5 float's value (ties to even), as block read stores it: the same
// result as rounding DecodeS5Float's double to single precision. Values below the smallest
// single magnitude become zero of their sign.
constexpr float DecodeS5FloatToSingle(uint32_t s5) {
  using namespace s5_float_detail;
  const int32_t exponent = static_cast<int8_t>(s5 >> 24);
  const int32_t mantissa = static_cast<int32_t>(s5 << 8) >> 8;
  const uint32_t sign = (s5 & kMantissaSign) << 8;
  const auto magnitude = static_cast<uint32_t>(mantissa < 0 ? -mantissa : mantissa);  // to 2^23

  // |M| is a single exactly, whose exponent field marks its leading bit: adding E − 23 to that
  // field gives the value wherever the value is a normal single.
  const auto whole = std::bit_cast<uint32_t>(static_cast<float>(static_cast<int32_t>(magnitude)));
  const int32_t biased = static_cast<int32_t>(whole >> kSingleFractionBits) + exponent - 23;
  const uint32_t normal = whole + (static_cast<uint32_t>(exponent - 23) << kSingleFractionBits);

  // Below 2^-126 the single counts units of 2^-149: |M| × 2^(E + 126). E + 126 is at least −2,
  // so at most two bits are rounded off (to the nearest, ties to even); a carry into bit 23 makes
  // the smallest normal single, as it should.
  const int32_t shift = exponent + 126;
  const auto right = static_cast<uint32_t>(std::clamp(-shift, 1, 2));
  const uint32_t rounded =
      (magnitude + (1u << (right - 1)) - 1 + ((magnitude >> right) & 1)) >> right;
  const uint32_t subnormal = shift < 0 ? rounded : magnitude << (shift & 31);

  return std::bit_cast<float>(sign | (biased > 0 && magnitude != 0 ? normal : subnormal));
}

// The S5 float nearest to a single: the same result as EncodeS5Float of the single widened to
// double precision, with the same clamping.
constexpr uint32_t EncodeSingleToS5Float(float value) {
  using namespace s5_float_detail;
  const auto bits = std::bit_cast<uint32_t>(value);
  const bool negative = (bits & kSingleSign) != 0;
  const uint32_t magnitude = bits & kSingleMagnitude;

  // value = ±significand × 2^(E − 24) with a 24-bit significand. A subnormal single's pattern
  // counts units of 2^-149: converted as an integer (exactly, being below 2^23) it becomes the
  // pattern of a normal single 149 binades higher, whose exponent field less 149 (zero or below
  // above the clamp) is the subnormal's own. No shift by a per-element count, so that a loop of
  // encodings stays vectorised without AVX2's per-lane shifts too; the pick is by mask, as a
  // conversion under a condition would not be vectorised.
  const auto asInteger =
      std::bit_cast<uint32_t>(static_cast<float>(static_cast<int32_t>(magnitude)));
  const uint32_t subnormal = 0u - static_cast<uint32_t>(magnitude < kSingleHidden);
  const uint32_t scaledDown = asInteger - (kSubnormalScale << kSingleFractionBits);
  const uint32_t normal = (scaledDown & subnormal) | (magnitude & ~subnormal);
  const int32_t exponent = (static_cast<int32_t>(normal) >> kSingleFractionBits) - kSingleBias + 1;
  const uint32_t significand = (normal & kSingleFraction) | kSingleHidden;

  // The mantissa's magnitude is half the significand, an exact half rounded away from zero.
  const uint32_t half = (significand + 1) >> 1;  // 2^22 to 2^23
  // Positive: a carry to 2^23 becomes 0.5 at the next exponent.
  const uint32_t carry = half >> 23;
  const uint32_t positive =
      static_cast<uint32_t>(exponent + static_cast<int32_t>(carry)) << 24 | (half - (carry << 22));
  // Negative: −0.5 × 2^E becomes −1 × 2^(E − 1) while E stays above −127.
  const bool lower = half == kMantissaTop && exponent > -127;
  const uint32_t negativeField = lower ? kMantissaSign : (0u - half) & 0xFF'FFFF;
  const uint32_t negativeS5 =
      static_cast<uint32_t>(exponent - static_cast<int32_t>(lower)) << 24 | negativeField;
  const uint32_t regular = negative ? negativeS5 : positive;

  // The fixed results, chosen without branching so that a loop of encodings stays vectorised.
  const uint32_t tiny = negative ? kS5FloatSmallestNegative : kS5FloatSmallestPositive;
  const uint32_t huge = negative ? kS5FloatMostNegative : kS5FloatLargest;
  const uint32_t inside = magnitude <= kClampedBelow ? tiny : regular;
  const uint32_t finite = magnitude >= kClampedAbove ? huge : inside;
  const uint32_t nonzero = magnitude > kSingleInfinity ? kS5FloatMostNegative : finite;  // NaN
  return magnitude == 0 ? kS5FloatZero : nonzero;
}

}  // namespace tav
