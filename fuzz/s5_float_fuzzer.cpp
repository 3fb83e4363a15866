// Drives the S5 float codec with every single-precision value and every 32-bit S5 pattern.
//
// Input: 4 bytes, little-endian (shorter inputs are padded with zeros), read once as a single x
// and once as an S5 float pattern p. Checked:
//  - x: its S5 float decodes to a value inside the format's range, of x's sign, within the
//    format's precision of x (2^-23 of |x|, half a step of the 23-bit mantissa) where x lies
//    inside the range, and to the smallest or largest S5 float of x's sign where it lies outside;
//    0 gives 0, NaN the most negative S5 float. Everywhere, clamps included, the pattern is the
//    one the C library computation the codec replaced gives (tests/transfer/s5_float_oracle.h),
//    and encoding the single directly gives it too.
//  - p: it decodes to a finite value, the value the C library computation gives, and to the
//    single nearest to it when decoded to a single directly; when p is normalised (mantissa bits
//    23 and 22 differ) and below the encoder's upper bound, encoding that value gives it back
//    exactly (the pattern may differ: -2^-128 is encoded as 0x81C00000, not normalised).
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "s5_float_oracle.h"
#include "vocabulary/s5_float.h"

namespace {

void Require(bool condition, const char* what, uint32_t bits) {
  if (condition) return;
  std::fprintf(stderr, "s5 float fuzzer: %s (input 0x%08X)\n", what, bits);
  std::abort();
}

const double kLargest = tav::DecodeS5Float(tav::kS5FloatLargest);
const double kMostNegative = tav::DecodeS5Float(tav::kS5FloatMostNegative);

void CheckSingle(uint32_t bits) {
  const auto single = std::bit_cast<float>(bits);
  const auto x = static_cast<double>(single);
  const uint32_t encoded = tav::EncodeS5Float(x);
  Require(encoded == tav::oracle::EncodeS5Float(x), "the oracle encodes otherwise", bits);
  Require(tav::EncodeSingleToS5Float(single) == encoded, "the single encodes otherwise", bits);
  const double decoded = tav::DecodeS5Float(encoded);
  Require(decoded >= kMostNegative && decoded <= kLargest, "outside the S5 range", bits);

  if (std::isnan(x)) {
    Require(encoded == tav::kS5FloatMostNegative, "NaN is not the most negative", bits);
    return;
  }
  if (x == 0) {
    Require(encoded == tav::kS5FloatZero, "zero is not 0x80000000", bits);
    return;
  }
  Require(std::signbit(decoded) == std::signbit(x) && decoded != 0, "sign lost", bits);
  const double magnitude = std::fabs(x);
  if (magnitude <= tav::kS5FloatLowerBound) {
    const uint32_t smallest = x > 0 ? tav::kS5FloatSmallestPositive : tav::kS5FloatSmallestNegative;
    Require(encoded == smallest, "too small but not the smallest", bits);
  } else if (magnitude >= tav::kS5FloatUpperBound) {
    const uint32_t largest = x > 0 ? tav::kS5FloatLargest : tav::kS5FloatMostNegative;
    Require(encoded == largest, "too large but not the largest", bits);
  } else {
    Require(std::fabs(decoded - x) <= std::ldexp(magnitude, -23), "not within precision", bits);
  }
}

void CheckPattern(uint32_t pattern) {
  const double value = tav::DecodeS5Float(pattern);
  Require(std::isfinite(value), "decodes to no number", pattern);
  Require(value == tav::oracle::DecodeS5Float(pattern), "the oracle decodes otherwise", pattern);
  Require(std::bit_cast<uint32_t>(tav::DecodeS5FloatToSingle(pattern)) ==
              std::bit_cast<uint32_t>(static_cast<float>(value)),
          "not the nearest single", pattern);
  const bool normalised = ((pattern >> 23) & 1) != ((pattern >> 22) & 1);
  // The encoder takes magnitudes from its upper bound on, two S5 steps below 2^127, as too large.
  if (normalised && std::fabs(value) < tav::kS5FloatUpperBound) {
    Require(tav::DecodeS5Float(tav::EncodeS5Float(value)) == value, "no exact round trip", pattern);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t bits = 0;
  for (size_t i = 0; i < size && i < 4; ++i) bits |= static_cast<uint32_t>(data[i]) << (8 * i);
  CheckSingle(bits);
  CheckPattern(bits);
  return 0;
}
