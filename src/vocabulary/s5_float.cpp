#include "vocabulary/s5_float.h"

#include <bit>

namespace tav {
namespace {

// Doubles: IEEE 754 binary64 fields.
constexpr int kDoubleFractionBits = 52;
constexpr uint64_t kDoubleMagnitude = ~uint64_t{0} >> 1;
constexpr uint64_t kDoubleInfinity = uint64_t{0x7FF} << kDoubleFractionBits;
// frexp's exponent of a normal double: its biased exponent less this.
constexpr uint32_t kFrexpBias = 1022;
// The significand's bits below the mantissa's 23.
constexpr int kDroppedBits = kDoubleFractionBits + 1 - 23;
constexpr uint64_t kDroppedHalf = uint64_t{1} << (kDroppedBits - 1);
// Magnitudes, as patterns, that the encoder clamps: up to the first, from the second on.
constexpr uint64_t kClampedBelow = std::bit_cast<uint64_t>(kS5FloatLowerBound);
constexpr uint64_t kClampedAbove = std::bit_cast<uint64_t>(kS5FloatUpperBound);
// The upper halves of 2^-126's pattern and of the upper clamp's (whose lower half is not zero).
constexpr uint32_t kNormalFromUpper = (1023 - 126) << (kDoubleFractionBits - 32);
constexpr auto kClampedAboveUpper = static_cast<uint32_t>(kClampedAbove >> 32);

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

uint32_t EncodeS5Float(double value) {
  using s5_float_detail::SignMask;
  const auto bits = std::bit_cast<uint64_t>(value);
  const uint32_t sign = SignMask(static_cast<uint32_t>(bits >> 63));
  const uint64_t magnitude = bits & kDoubleMagnitude;
  // Every value inside the bounds is a normal double, its 53-bit significand rounded to 23 bits.
  const auto rounded = static_cast<uint32_t>((magnitude + kDroppedHalf) >> kDroppedBits);
  // The common case, one branch on the magnitude's upper half: from 2^-126 on, E is above −127.
  if (const auto upper = static_cast<uint32_t>(magnitude >> 32);
      upper - kNormalFromUpper < kClampedAboveUpper - kNormalFromUpper) {
    return s5_float_detail::S5FromRoundedNormal(rounded, kFrexpBias, sign);
  }
  return s5_float_detail::Clamped(magnitude, sign, kClampedBelow, kClampedAbove, kDoubleInfinity,
                                  s5_float_detail::S5FromRounded(rounded, kFrexpBias, sign));
}

}  // namespace tav
