#include "transfer/s5_float.h"

#include <cmath>

namespace tav {
namespace {

constexpr uint32_t kMantissaSign = 1u << 23;
constexpr uint32_t kMantissaTop = 1u << 22;  // the leading bit of a normalised positive mantissa
constexpr uint32_t kFractionBits = kMantissaSign - 1;
constexpr uint32_t kMantissaBits = 0x00FF'FFFF;
constexpr double kMantissaScale = 0x1p23;
// Normalising a negative mantissa lowers the exponent; it stops above the format's smallest.
constexpr int kLowestNormalisingExponent = -127;

}  // namespace

double DecodeS5Float(uint32_t s5) {
  const int exponent = static_cast<int8_t>(s5 >> 24);
  double fraction = std::ldexp(static_cast<double>(s5 & kFractionBits), -23);
  if ((s5 & kMantissaSign) != 0) fraction -= 1.0;
  return std::ldexp(fraction, exponent);
}

uint32_t EncodeS5Float(double value) {
  if (value < 0 || std::isnan(value)) {
    if (value >= -kS5FloatLowerBound) return kS5FloatSmallestNegative;
    if (value <= -kS5FloatUpperBound || std::isnan(value)) return kS5FloatMostNegative;
  } else {
    if (value == 0) return kS5FloatZero;
    if (value <= kS5FloatLowerBound) return kS5FloatSmallestPositive;
    if (value >= kS5FloatUpperBound) return kS5FloatLargest;
  }

  // value = fraction × 2^exponent with 0.5 ≤ |fraction| < 1; inside the bounds the exponent
  // lies between −128 and 127.
  int exponent = 0;
  const double fraction = std::frexp(value, &exponent);
  uint32_t field = 0;
  if (fraction > 0) {
    // Nearest mantissa, an exact half rounded up. A carry out of the fraction bits would turn the
    // value negative; it becomes 0.5 at the next exponent instead.
    field = static_cast<uint32_t>(fraction * kMantissaScale + 0.5);
    if (field == kMantissaSign) {
      field = kMantissaTop;
      ++exponent;
    }
  } else {
    // The mantissa's low 23 bits are (fraction + 1) × 2^23, above 0 and at most 2^22. Rounding
    // them up only past an exact half sends the half to the more negative neighbour.
    double whole = 0;
    const double part = std::modf((fraction + 1.0) * kMantissaScale, &whole);
    field = static_cast<uint32_t>(whole);
    if (part > 0.5) ++field;
    // A field of 2^22 is −0.5 × 2^exponent, not normalised: it becomes −1 × 2^(exponent − 1),
    // as long as the exponent allows.
    while ((field & kMantissaTop) != 0 && exponent > kLowestNormalisingExponent) {
      field <<= 1;
      --exponent;
    }
    field |= kMantissaSign;
  }
  return (static_cast<uint32_t>(exponent) & 0xFF) << 24 | (field & kMantissaBits);
}

}  // namespace tav
