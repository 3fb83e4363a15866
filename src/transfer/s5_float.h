// The S5 float: the 32-bit floating-point format of S5 stations. An 8-bit two's-complement
// exponent E in bits 31 to 24 and a 24-bit two's-complement mantissa M below it stand for
// M × 2^(E − 23), a fraction from −1 (included) to 1 (excluded) scaled by 2^E. Normalised values
// have bits 23 and 22 different; any M of 0 is zero. S7 stations hold IEEE 754 singles instead.
#pragma once

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

}  // namespace tav
