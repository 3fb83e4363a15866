// The S5 station's own 32-bit floating-point format, as the simulated stations hold it: an 8-bit
// two's-complement exponent E in bits 31 to 24 above a 24-bit two's-complement mantissa M, the
// value M x 2^(E - 23). The simulator only needs it to preset S5 floats and to show them.
#pragma once

#include <cstdint>

#include "sim/api.h"

namespace tav::sim {

// The S5 float nearest to `value` (an exact half rounds away from zero), normalised. Zero and
// values too small for the format give 0x80000000; values beyond the largest S5 float give the
// largest positive (0x7F7FFFFF) or most negative (0x7F800000) one; NaN gives 0x80000000.
TAV_SIM_API uint32_t EncodeS5Float(double value);

// The value an S5 float stands for; exact in double precision.
TAV_SIM_API double DecodeS5Float(uint32_t s5Float);

}  // namespace tav::sim
