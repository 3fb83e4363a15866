#include "sim/s5_float.h"

#include <cmath>

namespace tav::sim {

namespace {

constexpr uint32_t kZero = 0x8000'0000;
constexpr uint32_t kLargest = 0x7F7F'FFFF;
constexpr uint32_t kMostNegative = 0x7F80'0000;
constexpr int32_t kMantissaOne = 1 << 23;   // the mantissa's weight of 1.0
constexpr int32_t kMantissaHalf = 1 << 22;  // of 0.5
constexpr int kSmallestExponent = -128;
constexpr int kLargestExponent = 127;

}  // namespace

uint32_t EncodeS5Float(double value) {
  if (value == 0.0 || std::isnan(value)) return kZero;
  if (std::isinf(value)) return value > 0 ? kLargest : kMostNegative;

  // value = fraction x 2^exponent with 0.5 <= |fraction| < 1: the mantissa is the fraction
  // scaled by 2^23.
  int exponent = 0;
  const double fraction = std::frexp(value, &exponent);
  auto mantissa = static_cast<int32_t>(std::lround(std::ldexp(fraction, 23)));
  if (mantissa == kMantissaOne) {  // rounding carried into the sign bit
    mantissa = kMantissaHalf;
    ++exponent;
  }
  if (mantissa == -kMantissaHalf) {  // -0.5 is normalised as -1 x 2^(e-1)
    mantissa = -kMantissaOne;
    --exponent;
  }
  if (exponent > kLargestExponent) return value > 0 ? kLargest : kMostNegative;
  if (exponent < kSmallestExponent) return kZero;
  return (static_cast<uint32_t>(exponent) & 0xFFu) << 24 |
         (static_cast<uint32_t>(mantissa) & 0xFF'FFFFu);
}

double DecodeS5Float(uint32_t s5Float) {
  const auto exponent = static_cast<int8_t>(s5Float >> 24);
  int32_t mantissa = static_cast<int32_t>(s5Float & 0xFF'FFFFu);
  if (mantissa >= kMantissaOne) mantissa -= 2 * kMantissaOne;  // bit 23 is the sign
  return std::ldexp(static_cast<double>(mantissa), exponent - 23);
}

}  // namespace tav::sim
