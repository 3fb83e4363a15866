#include "sim/s5_float.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace tav::sim {
namespace {

struct S5FloatCase {
  double value;
  uint32_t s5Float;
};

// Values the format represents exactly, so both directions hold.
constexpr S5FloatCase kExact[] = {
    {1.0, 0x0140'0000},       {-1.0, 0x0080'0000},  {0.5, 0x0040'0000},   {-0.5, 0xFF80'0000},
    {0.75, 0x0060'0000},      {-0.75, 0x00A0'0000}, {100.0, 0x0764'0000}, {-100.0, 0x079C'0000},
    {0.25, 0xFF40'0000},      {3.0, 0x0260'0000},   {-3.0, 0x02A0'0000},  {0.0, 0x8000'0000},
    {8388608.0, 0x1840'0000},
};

TEST(S5Float, EncodesAndDecodesExactValues) {
  for (const S5FloatCase& c : kExact) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(EncodeS5Float(c.value), c.s5Float);
    EXPECT_EQ(DecodeS5Float(c.s5Float), c.value);
  }
}

TEST(S5Float, DecodesNonNormalisedPatterns) {
  EXPECT_EQ(DecodeS5Float(0x00C0'0000), -0.5);  // mantissa -0.5, exponent 0
  EXPECT_EQ(DecodeS5Float(0x0000'0000), 0.0);   // mantissa 0 is zero whatever the exponent
  EXPECT_EQ(DecodeS5Float(0x7F7F'FFFF), 8388607.0 * std::ldexp(1.0, 104));
  EXPECT_EQ(DecodeS5Float(0x7F80'0000), -std::ldexp(1.0, 127));
}

TEST(S5Float, RoundsToTheNearestAndClampsAtTheEnds) {
  EXPECT_EQ(EncodeS5Float(16777215.0), 0x1940'0000u);  // a carry into the next power of two
  EXPECT_EQ(EncodeS5Float(3.1415927f), 0x0264'87EEu);
  EXPECT_EQ(EncodeS5Float(-0.0), 0x8000'0000u);
  EXPECT_EQ(EncodeS5Float(1e39), 0x7F7F'FFFFu);
  EXPECT_EQ(EncodeS5Float(-1e39), 0x7F80'0000u);
  EXPECT_EQ(EncodeS5Float(INFINITY), 0x7F7F'FFFFu);
  EXPECT_EQ(EncodeS5Float(-INFINITY), 0x7F80'0000u);
  EXPECT_EQ(EncodeS5Float(1e-300), 0x8000'0000u);
}

// Every single-precision value in the format's range survives a round trip within half a unit
// of the 23-bit mantissa.
TEST(S5Float, RoundTripsSinglesWithinHalfAMantissaUnit) {
  for (double value = 1e-30; value < 1e30; value *= 1.37) {
    for (double signedValue : {value, -value}) {
      const double back = DecodeS5Float(EncodeS5Float(signedValue));
      int exponent = 0;
      std::frexp(signedValue, &exponent);
      EXPECT_LE(std::fabs(back - signedValue), std::ldexp(1.0, exponent - 24)) << signedValue;
    }
  }
}

}  // namespace
}  // namespace tav::sim
