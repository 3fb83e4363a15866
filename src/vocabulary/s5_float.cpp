#include "vocabulary/s5_float.h"

#include <cmath>

namespace tav {
namespace {

using s5_float_detail::kMantissaSign;
using s5_float_detail::kMantissaTop;
constexpr uint32_t kMantissaBits = 0x00FF'FFFF;

// Doubles: IEEE 754 binary64 fields.
constexpr int kDoubleFractionBits = 52;
constexpr uint64_t kDoubleHidden = uint64_t{1} << kDoubleFractionBits;
constexpr uint64_t kDoubleFraction = kDoubleHidden - 1;
constexpr int kDoubleExponentMask = 0x7FF;
// frexp's exponent of a normal double: its biased exponent less this.
constexpr int kFrexpBias = 1022;
// The significand's bits below the mantissa's 23 when the fraction 0.5 ≤ |f| < 1 is scaled by 2^23.
constexpr int kDroppedBits = kDoubleFractionBits + 1 - 23;
constexpr uint64_t kDroppedMask = (uint64_t{1} << kDroppedBits) - 1;
constexpr uint64_t kDroppedHalf = uint64_t{1} << (kDroppedBits - 1);
// Normalising a negative mantissa lowers the exponent; it stops above the format's smallest.
constexpr int kLowestNormalisingExponent = -127;

}  // namespace

double DecodeS5Float(uint32_t s5) {
  const int32_t mantissa = static_cast<int32_t>(s5 << 8) >> 8;
  if (mantissa == 0) return 0.0;
  const int32_t exponent = static_cast<int8_t>(s5 >> 24);
  // M converts exactly, and M × 2^(E − 23) is a normal double for every E: adding E − 23 to the
  // exponent field of M's double scales it.
  const auto whole = std::bit_cast<uint64_t>(static_cast<double>(mantissa));
  return std::bit_cast<double>(whole +
                               (static_cast<uint64_t>(exponent - 23) << kDoubleFractionBits));
}

namespace {

// The fixed results for an input outside the format's range: zero, too small, too large, NaN.
uint32_t ClampedS5Float(double value) {
  if (value < 0 || std::isnan(value)) {
    return value >= -kS5FloatLowerBound ? kS5FloatSmallestNegative : kS5FloatMostNegative;
  }
  if (value == 0) return kS5FloatZero;
  return value <= kS5FloatLowerBound ? kS5FloatSmallestPositive : kS5FloatLargest;
}

}  // namespace

uint32_t EncodeS5Float(double value) {
  if (const double magnitude = std::fabs(value);
      !(magnitude > kS5FloatLowerBound && magnitude < kS5FloatUpperBound)) {
    return ClampedS5Float(value);
  }

  // value = ±significand × 2^(exponent − 53) with a 53-bit significand, every value inside the
  // bounds being a normal double: the fraction 0.5 ≤ |f| < 1 is ±significand × 2^-53, and the
  // exponent lies between −128 and 127. Both signs are worked out and one is picked, which
  // costs less than a mispredicted branch.
  const auto bits = std::bit_cast<uint64_t>(value);
  const uint64_t significand = (bits & kDoubleFraction) | kDoubleHidden;
  const int exponent =
      static_cast<int>(bits >> kDoubleFractionBits & kDoubleExponentMask) - kFrexpBias;

  // Positive: the nearest mantissa, an exact half rounded up. A carry out of the fraction bits
  // would turn the value negative; it becomes 0.5 at the next exponent instead.
  const auto rounded = static_cast<uint32_t>((significand + kDroppedHalf) >> kDroppedBits);
  const uint32_t carry = rounded >> 23;
  const uint32_t positiveField = rounded >> carry;
  const int positiveExponent = exponent + static_cast<int>(carry);

  // Negative: the mantissa's low 23 bits are (f + 1) × 2^23, above 0 and at most 2^22. Rounding
  // them up only past an exact half sends the half to the more negative neighbour. A field of
  // 2^22 is −0.5 × 2^exponent, not normalised: it becomes −1 × 2^(exponent − 1), as long as the
  // exponent allows.
  const uint64_t rest = 2 * kDoubleHidden - significand;
  const auto truncated = static_cast<uint32_t>(rest >> kDroppedBits);
  const uint32_t low = truncated + static_cast<uint32_t>((rest & kDroppedMask) > kDroppedHalf);
  const bool lower = low == kMantissaTop && exponent > kLowestNormalisingExponent;
  const uint32_t negativeField = (lower ? low << 1 : low) | kMantissaSign;
  const int negativeExponent = exponent - static_cast<int>(lower);

  const bool negative = value < 0;
  const uint32_t field = negative ? negativeField : positiveField;
  const int finalExponent = negative ? negativeExponent : positiveExponent;
  return (static_cast<uint32_t>(finalExponent) & 0xFF) << 24 | (field & kMantissaBits);
}

}  // namespace tav
