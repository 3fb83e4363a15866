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
#include <type_traits>

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
inline constexpr uint32_t kMantissaBits = (1u << 24) - 1;
inline constexpr uint32_t kSingleSign = 1u << 31;
inline constexpr uint32_t kSingleMagnitude = kSingleSign - 1;
inline constexpr uint32_t kSingleHidden = 1u << 23;  // the implicit leading bit of a normal single
inline constexpr uint32_t kSingleInfinity = 0x7F80'0000;
inline constexpr int32_t kSingleBias = 127;
// frexp's exponent of a normal single: its biased exponent less this.
inline constexpr uint32_t kSingleFrexpBias = kSingleBias - 1;
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

// All ones for a sign bit of 1, else zero.
constexpr uint32_t SignMask(uint32_t signBit) {
  return 0u - signBit;
}

// What the fraction of an S5 float's magnitude is XORed with to make its 24-bit field: bit 22,
// the leading bit, for a positive sign; for a negative one every bit but bit 22 (see
// S5FromRoundedNormal). The smallest S5 float of each sign is 0x80000000 with these bits.
constexpr uint32_t MantissaFlips(uint32_t sign) {
  return kMantissaTop ^ (sign & kMantissaBits);
}

inline constexpr int kRoundedFractionBits = 22;

// The S5 float of a value inside the format's range, from its magnitude's pattern (IEEE 754,
// whose fields are in the order of the S5 float's) with the significand's bits below the
// mantissa's 23 rounded off: `rounded` holds the biased exponent above 22 bits of fraction f, an
// exact half having gone to the larger magnitude and a carry out of the fraction into the
// exponent. Only the exponent's low 8 bits matter: inside the range E, the exponent less `bias`,
// is −128 to 127; this one is for E above −127, where every mantissa is normalised.
//
// The magnitude is (2^22 + f) × 2^(E − 23). Positive, the mantissa is 2^22 + f: f with bit 22
// set. Negative mantissas run from −2^23 to −2^22 − 1, magnitudes (0.5, 1] × 2^E, one unit above
// those of the patterns: one unit less, the pattern's exponent and fraction f' give the mantissa
// −(2^22 + f' + 1), the field 0xBFFFFF − f', that is f' with every bit but bit 22 flipped. So
// −0.5 × 2^E becomes −1 × 2^(E − 1). Both signs by mask arithmetic, no branch to mispredict.
constexpr uint32_t S5FromRoundedNormal(uint32_t rounded, uint32_t bias, uint32_t sign) {
  constexpr uint32_t kFraction = kMantissaTop - 1;
  const uint32_t lessened = rounded + sign;
  // The exponent moved up two bits to the S5 float's, less the bias; the fraction stays, below
  // the leading bit (bit 22) set by the addition.
  const uint32_t moved = lessened + 3 * (lessened & ~kFraction) + kMantissaTop - (bias << 24);
  return moved ^ (sign & kMantissaBits);
}

// The same for every E: −0.5 × 2^-128 and −0.5 × 2^-127 keep the mantissa −2^22, 0x1400000 above
// what one unit less gives (the field 0x800000 one exponent lower). Their patterns have f = 0
// and differ only in bit 22.
constexpr uint32_t S5FromRounded(uint32_t rounded, uint32_t bias, uint32_t sign) {
  constexpr uint32_t kKeptBack = (1u << 24) + kMantissaTop;
  const uint32_t lowestHalf = ((bias - 128) << kRoundedFractionBits) | kMantissaTop;
  const uint32_t kept = 0u - static_cast<uint32_t>((rounded | kMantissaTop) == lowestHalf);
  return S5FromRoundedNormal(rounded, bias, sign) + (sign & kept & kKeptBack);
}

// The encoder's result for a magnitude's pattern (of a single or a double) and its sign: the
// fixed results at or below `below`, at or above `above`, and for NaN (above `infinity`), else
// `regular`; zero of either sign gives 0x80000000. Magnitudes compare as signed integers (their
// top bit is clear), which vector units do at once. Every pick is by mask, not by a condition:
// the compiler would thread a condition into branches around the conversion of a subnormal, which
// it must not then run unconditionally (it may raise a floating-point flag), and a loop of
// encodings would not be vectorised.
template <class Pattern>
constexpr uint32_t Clamped(Pattern magnitudePattern, uint32_t sign, Pattern below, Pattern above,
                           Pattern infinity, uint32_t regular) {
  using Signed = std::make_signed_t<Pattern>;
  const auto magnitude = static_cast<Signed>(magnitudePattern);
  const auto mask = [](bool condition) { return 0u - static_cast<uint32_t>(condition); };
  // 0x80400000 and 0x80BFFFFF, the smallest of each sign, from the flips of a mantissa.
  const uint32_t low = kS5FloatZero | (MantissaFlips(sign) & ~mask(magnitude == 0));
  // 0x7F7FFFFF and 0x7F800000, one more.
  const uint32_t high = kS5FloatLargest - (sign | mask(magnitude > static_cast<Signed>(infinity)));
  static_assert(kS5FloatSmallestPositive == (kS5FloatZero | kMantissaTop) &&
                kS5FloatSmallestNegative == (kS5FloatZero | (kMantissaTop ^ kMantissaBits)) &&
                kS5FloatMostNegative == kS5FloatLargest + 1);
  const uint32_t inside =
      regular ^ ((regular ^ low) & mask(magnitude <= static_cast<Signed>(below)));
  return inside ^ ((inside ^ high) & mask(magnitude >= static_cast<Signed>(above)));
}

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

namespace s5_float_detail {

// EncodeSingleToS5Float without a branch: for loops of encodings, which the compiler vectorises.
constexpr uint32_t EncodeSingleByMasks(float value) {
  const auto bits = std::bit_cast<uint32_t>(value);
  const uint32_t magnitude = bits & kSingleMagnitude;

  // A subnormal single's pattern counts units of 2^-149: converted as an integer (exactly, being
  // below 2^23) it becomes the pattern of a normal single 149 binades higher, whose exponent field
  // less 149 (−2 at the smallest value not clamped) is the subnormal's own. No shift by a
  // per-element count, so that a loop of encodings stays vectorised without AVX2's per-lane
  // shifts too; the pick is by mask, as a conversion under a condition would not be vectorised.
  const auto asInteger =
      std::bit_cast<uint32_t>(static_cast<float>(static_cast<int32_t>(magnitude)));
  const uint32_t subnormal = 0u - static_cast<uint32_t>(magnitude < kSingleHidden);
  const uint32_t scaledDown = asInteger - (kSubnormalScale << kSingleFractionBits);
  const uint32_t normal = (scaledDown & subnormal) | (magnitude & ~subnormal);

  // Its 24-bit significand halved, to the nearest: one bit rounded off; the exponent field of a
  // subnormal, scaled down below zero, keeps its sign.
  const uint32_t sign = SignMask(bits >> 31);
  const auto rounded = static_cast<uint32_t>(static_cast<int32_t>(normal + 1) >> 1);
  const uint32_t regular = S5FromRounded(rounded, kSingleFrexpBias, sign);
  return Clamped(magnitude, sign, kClampedBelow, kClampedAbove, kSingleInfinity, regular);
}

}  // namespace s5_float_detail

// The S5 float nearest to a single: the same result as EncodeS5Float of the single widened to
// double precision, with the same clamping. A normal single inside the range, the common case,
// takes one branch (predictable where the values are alike) and a dozen operations.
constexpr uint32_t EncodeSingleToS5Float(float value) {
  using namespace s5_float_detail;
  const auto bits = std::bit_cast<uint32_t>(value);
  const uint32_t magnitude = bits & kSingleMagnitude;
  if (magnitude - kSingleHidden < kClampedAbove - kSingleHidden) {
    return S5FromRoundedNormal((magnitude + 1) >> 1, kSingleFrexpBias, SignMask(bits >> 31));
  }
  return EncodeSingleByMasks(value);
}

}  // namespace tav
