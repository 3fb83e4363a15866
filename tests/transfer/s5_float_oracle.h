// The S5 float conversions as the driver first computed them, through the C library's ldexp,
// frexp and modf: the oracle that the integer conversions must match bit for bit.
#pragma once

#include <cmath>
#include <cstdint>

#include "vocabulary/s5_float.h"

namespace tav::oracle {

inline double DecodeS5Float(uint32_t s5) {
  const int exponent = static_cast<int8_t>(s5 >> 24);
  double fraction = std::ldexp(static_cast<double>(s5 & 0x7F'FFFF), -23);
  if ((s5 & 0x80'0000) != 0) fraction -= 1.0;
  return std::ldexp(fraction, exponent);
}

inline uint32_t EncodeS5Float(double value) {
  if (value < 0 || std::isnan(value)) {
    if (value >= -kS5FloatLowerBound) return kS5FloatSmallestNegative;
    if (value <= -kS5FloatUpperBound || std::isnan(value)) return kS5FloatMostNegative;
  } else {
    if (value == 0) return kS5FloatZero;
    if (value <= kS5FloatLowerBound) return kS5FloatSmallestPositive;
    if (value >= kS5FloatUpperBound) return kS5FloatLargest;
  }
  int exponent = 0;
  const double fraction = std::frexp(value, &exponent);
  uint32_t field = 0;
  if (fraction > 0) {
    field = static_cast<uint32_t>(fraction * 0x1p23 + 0.5);
    if (field == 0x80'0000) {
      field = 0x40'0000;
      ++exponent;
    }
  } else {
    double whole = 0;
    const double part = std::modf((fraction + 1.0) * 0x1p23, &whole);
    field = static_cast<uint32_t>(whole);
    if (part > 0.5) ++field;
    while ((field & 0x40'0000) != 0 && exponent > -127) {
      field <<= 1;
      --exponent;
    }
    field |= 0x80'0000;
  }
  return (static_cast<uint32_t>(exponent) & 0xFF) << 24 | (field & 0xFF'FFFF);
}

}  // namespace tav::oracle
