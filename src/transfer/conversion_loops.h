// The loops that convert a run of elements between the TransferBuffer and the host's array, one
// per element conversion. Each is a plain loop over whole-value loads and stores with no call,
// branch or bounds check inside, which the compiler vectorises: byte swaps become shuffles, the S5
// float conversions lane-wise integer arithmetic. Every loop is compiled twice, for any x86
// processor and for processors with AVX2 (32-byte vectors, byte shuffles, per-lane shifts); a
// block transfer picks the AVX2 loop when the processor has it.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "vocabulary/byte_order.h"
#include "vocabulary/s5_float.h"

namespace tav {

// Element conversions: the bytes an element takes on each side, and the conversion of one.

// A byte into the host's 16-bit element, zero-extended.
struct WidenByte {
  static constexpr size_t kFrom = 1;
  static constexpr size_t kTo = 2;
  static void Convert(const uint8_t* from, uint8_t* to) { StoreLe16(to, from[0]); }
};

// The low 8 bits of the host's 16-bit element.
struct NarrowToByte {
  static constexpr size_t kFrom = 2;
  static constexpr size_t kTo = 1;
  static void Convert(const uint8_t* from, uint8_t* to) {
    to[0] = static_cast<uint8_t>(LoadLe16(from));
  }
};

// A big-endian byte pair to a host word or back; also a pair of characters exchanged.
struct SwapWordBytes {
  static constexpr size_t kFrom = 2;
  static constexpr size_t kTo = 2;
  static void Convert(const uint8_t* from, uint8_t* to) { StoreLe16(to, LoadBe16(from)); }
};

// A big-endian 32-bit value to a host one or back.
struct SwapDoubleWordBytes {
  static constexpr size_t kFrom = 4;
  static constexpr size_t kTo = 4;
  static void Convert(const uint8_t* from, uint8_t* to) { StoreLe32(to, LoadBe32(from)); }
};

// An S5 station's two host-order words, the high one first, to a host 32-bit value or back.
struct SwapDoubleWordHalves {
  static constexpr size_t kFrom = 4;
  static constexpr size_t kTo = 4;
  static void Convert(const uint8_t* from, uint8_t* to) { StoreLe32(to, LoadS5Pair(from)); }
};

// An S5 float, as two words, to the host's single.
struct DecodeS5FloatWords {
  static constexpr size_t kFrom = 4;
  static constexpr size_t kTo = 4;
  static void Convert(const uint8_t* from, uint8_t* to) {
    StoreLe32(to, std::bit_cast<uint32_t>(DecodeS5FloatToSingle(LoadS5Pair(from))));
  }
};

// The host's single to an S5 float, as two words: the encoding without a branch, which the
// compiler vectorises.
struct EncodeS5FloatWords {
  static constexpr size_t kFrom = 4;
  static constexpr size_t kTo = 4;
  static void Convert(const uint8_t* from, uint8_t* to) {
    StoreS5Pair(to, s5_float_detail::EncodeSingleByMasks(std::bit_cast<float>(LoadLe32(from))));
  }
};

// A loop over a run of elements: from, to, and the count of elements.
using ConversionLoop = void (*)(const uint8_t* from, uint8_t* to, size_t count);

namespace conversion_detail {

// The vectors' size, and the alignment the loops give their stores.
inline constexpr size_t kVectorBytes = 32;

template <class Element>
[[gnu::always_inline]] inline void Convert(const uint8_t* from, uint8_t* to, size_t begin,
                                           size_t end) {
#pragma GCC unroll 4
  for (size_t i = begin; i < end; ++i) {
    Element::Convert(from + Element::kFrom * i, to + Element::kTo * i);
  }
}

// Element by element until the stores reach a vector's alignment (where element boundaries
// allow it: the TransferBuffer lies 2 bytes past it in the instance), then in whole vectors: a
// store that straddles two cache lines costs as much as two.
template <class Element>
[[gnu::always_inline]] inline void Loop(const uint8_t* from, uint8_t* to, size_t count) {
  const auto address = reinterpret_cast<uintptr_t>(to);
  const size_t toAlignment = (kVectorBytes - address % kVectorBytes) % kVectorBytes;
  const size_t head = address % Element::kTo == 0 ? std::min(count, toAlignment / Element::kTo) : 0;
  for (size_t i = 0; i < head; ++i) {
    Element::Convert(from + Element::kFrom * i, to + Element::kTo * i);
  }
  Convert<Element>(from, to, head, count);
}

}  // namespace conversion_detail

// The loop for any x86 processor (SSE2 vectors on x86-64).
template <class Element>
[[gnu::noinline]] void ConvertRunBaseline(const uint8_t* from, uint8_t* to, size_t count) {
  conversion_detail::Loop<Element>(from, to, count);
}

// The loop for processors with AVX2; only for them.
template <class Element>
[[gnu::noinline, gnu::target("avx2")]] void ConvertRunAvx2(const uint8_t* from, uint8_t* to,
                                                           size_t count) {
  conversion_detail::Loop<Element>(from, to, count);
}

// Whether the processor (and the operating system) run AVX2 instructions.
inline bool ProcessorHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}

// Converts `count` elements from `from` to `to` with the fastest loop this processor runs.
template <class Element>
void ConvertRun(const uint8_t* from, uint8_t* to, size_t count) {
  if (ProcessorHasAvx2()) {
    ConvertRunAvx2<Element>(from, to, count);
  } else {
    ConvertRunBaseline<Element>(from, to, count);
  }
}

}  // namespace tav
