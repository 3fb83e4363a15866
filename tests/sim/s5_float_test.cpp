#include "sim/station.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "vocabulary/s5_float.h"

namespace tav::sim {
namespace {

struct S5FloatCase {
  double value;
  uint32_t s5Float;
};

// The pattern a simulated S5 station holds once preset with `value`, and the value it shows for a
// pattern: the S5 float conversions the driver makes, edges included.
uint32_t Stored(double value) {
  Station station(S5Station("0A0B0C010203"));
  station.AddBlock(DataBlock(1), 2);
  EXPECT_TRUE(station.PutFloat(DataBlock(1), 0, value));
  return station.DWord(DataBlock(1), 0).value_or(0);
}
double Shown(uint32_t s5Float) {
  Station station(S5Station("0A0B0C010203"));
  station.AddBlock(DataBlock(1), 2);
  EXPECT_TRUE(station.PutDWord(DataBlock(1), 0, s5Float));
  return station.Float(DataBlock(1), 0).value_or(std::numeric_limits<double>::quiet_NaN());
}

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
    EXPECT_EQ(Stored(c.value), c.s5Float);
    EXPECT_EQ(Shown(c.s5Float), c.value);
  }
}

TEST(S5Float, DecodesNonNormalisedPatterns) {
  EXPECT_EQ(Shown(0x00C0'0000), -0.5);  // mantissa -0.5, exponent 0
  EXPECT_EQ(Shown(0x0000'0000), 0.0);   // mantissa 0 is zero whatever the exponent
  EXPECT_EQ(Shown(0x7F7F'FFFF), 8388607.0 * std::ldexp(1.0, 104));
  EXPECT_EQ(Shown(0x7F80'0000), -std::ldexp(1.0, 127));
}

TEST(S5Float, RoundsToTheNearestAndClampsAtTheEnds) {
  const S5FloatCase cases[] = {
      {16777215.0, 0x1940'0000},  // a carry into the next power of two
      {3.1415927f, 0x0264'87EE},
      {-0.0, 0x8000'0000},
      {1e39, 0x7F7F'FFFF},
      {-1e39, 0x7F80'0000},
      {INFINITY, 0x7F7F'FFFF},
      {-INFINITY, 0x7F80'0000},
      {NAN, 0x7F80'0000},
      // Too small: the smallest S5 float of the value's sign, never zero.
      {1e-300, 0x8040'0000},
      {-1e-300, 0x80BF'FFFF},
      // From just below 2^127 on, the largest S5 float of the value's sign.
      {kS5FloatUpperBound, 0x7F7F'FFFF},
      {-kS5FloatUpperBound, 0x7F80'0000},
      // -0.5 × 2^e becomes -1 × 2^(e-1) only while e stays above -127.
      {-std::ldexp(1.0, -128), 0x81C0'0000},
      {-std::ldexp(1.0, -129), 0x80C0'0000},
  };
  for (const S5FloatCase& c : cases) EXPECT_EQ(Stored(c.value), c.s5Float) << c.value;
}

// Every single-precision value in the format's range survives a round trip within half a unit
// of the 23-bit mantissa.
TEST(S5Float, RoundTripsSinglesWithinHalfAMantissaUnit) {
  for (double value = 1e-30; value < 1e30; value *= 1.37) {
    for (double signedValue : {value, -value}) {
      const double back = Shown(Stored(signedValue));
      int exponent = 0;
      std::frexp(signedValue, &exponent);
      EXPECT_LE(std::fabs(back - signedValue), std::ldexp(1.0, exponent - 24)) << signedValue;
    }
  }
}

}  // namespace
}  // namespace tav::sim
