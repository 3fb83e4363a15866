// The conversion loops of block transfers, both the one for any x86 processor and the AVX2 one
// (where the processor runs it), against a byte-by-byte reading of each conversion: runs of every
// length from 0 to past several vector widths, at every alignment, converting exactly the elements
// asked and nothing beyond them. This file is compiled with optimisation in every build, so that
// the loops are the vectorised ones.

#include "transfer/conversion_loops.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <vector>

#include "s5_float_oracle.h"

namespace tav {
namespace {

using Bytes = std::vector<uint8_t>;

// One element's conversion as the TransferBuffer and the host's arrays lay it out, byte by byte.
using Reference = void (*)(const uint8_t* from, uint8_t* to);

uint32_t HighWordFirst(const uint8_t* from) {
  return uint32_t{from[1]} << 24 | uint32_t{from[0]} << 16 | uint32_t{from[3]} << 8 | from[2];
}
void PutHighWordFirst(uint8_t* to, uint32_t value) {
  const uint8_t bytes[] = {static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24),
                           static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  for (int i = 0; i < 4; ++i) to[i] = bytes[i];
}
uint32_t Little(const uint8_t* from) {
  return uint32_t{from[3]} << 24 | uint32_t{from[2]} << 16 | uint32_t{from[1]} << 8 | from[0];
}
void PutLittle(uint8_t* to, uint32_t value) {
  for (int i = 0; i < 4; ++i) to[i] = static_cast<uint8_t>(value >> 8 * i);
}

struct LoopCase {
  const char* name;
  ConversionLoop baseline;
  ConversionLoop avx2;
  size_t from;
  size_t to;
  Reference reference;
};

template <class Element>
LoopCase Case(const char* name, Reference reference) {
  return {
      name,     ConvertRunBaseline<Element>, ConvertRunAvx2<Element>, Element::kFrom, Element::kTo,
      reference};
}

const LoopCase kCases[] = {
    Case<WidenByte>("widen bytes",
                    [](const uint8_t* from, uint8_t* to) {
                      to[0] = from[0];
                      to[1] = 0;
                    }),
    Case<NarrowToByte>("narrow to bytes",
                       [](const uint8_t* from, uint8_t* to) { to[0] = from[0]; }),
    Case<SwapWordBytes>("swap word bytes",
                        [](const uint8_t* from, uint8_t* to) {
                          to[0] = from[1];
                          to[1] = from[0];
                        }),
    Case<SwapDoubleWordBytes>("swap double-word bytes",
                              [](const uint8_t* from, uint8_t* to) {
                                for (int i = 0; i < 4; ++i) to[i] = from[3 - i];
                              }),
    Case<SwapDoubleWordHalves>(
        "swap double-word halves",
        [](const uint8_t* from, uint8_t* to) { PutLittle(to, HighWordFirst(from)); }),
    Case<DecodeS5FloatWords>("decode S5 floats",
                             [](const uint8_t* from, uint8_t* to) {
                               const auto single =
                                   static_cast<float>(oracle::DecodeS5Float(HighWordFirst(from)));
                               PutLittle(to, std::bit_cast<uint32_t>(single));
                             }),
    Case<EncodeS5FloatWords>("encode S5 floats",
                             [](const uint8_t* from, uint8_t* to) {
                               const auto single = std::bit_cast<float>(Little(from));
                               PutHighWordFirst(to, oracle::EncodeS5Float(single));
                             }),
};

constexpr size_t kLongestRun = 300;  // elements: past a pass of four 32-byte vectors, and a tail
constexpr uint8_t kUntouched = 0xA5;

// Random bytes, in every other 4-byte element with the extreme exponents of S5 floats (byte 1)
// and singles (byte 3), so that clamps and subnormal singles show up among the floats.
Bytes Input(size_t size, uint32_t seed) {
  Bytes bytes(size);
  uint32_t state = seed;
  for (uint8_t& byte : bytes) {
    state = state * 1'664'525 + 1'013'904'223;
    byte = static_cast<uint8_t>(state >> 24);
  }
  constexpr uint8_t kS5Exponents[] = {0x80, 0x81, 0x7F};  // −128, −127, 127
  constexpr uint8_t kSingleTops[] = {0x00, 0x80, 0x7F};   // tiny, tiny negative, huge
  for (size_t element = 0; 4 * element + 3 < size; element += 2) {
    bytes[4 * element + 1] = kS5Exponents[element / 2 % 3];
    bytes[4 * element + 3] = kSingleTops[element / 2 % 3];
  }
  return bytes;
}

void CheckLoop(const LoopCase& c, ConversionLoop loop) {
  for (size_t count = 0; count <= kLongestRun; ++count) {
    for (size_t misalign = 0; misalign < 4; ++misalign) {
      SCOPED_TRACE(testing::Message()
                   << c.name << ", " << count << " elements, offset " << misalign);
      const Bytes from = Input(misalign + c.from * count, static_cast<uint32_t>(count));
      Bytes to(misalign + c.to * count + 8, kUntouched);
      Bytes expected = to;
      for (size_t i = 0; i < count; ++i) {
        c.reference(&from[misalign + c.from * i], &expected[misalign + c.to * i]);
      }
      loop(from.data() + misalign, to.data() + misalign, count);
      ASSERT_EQ(to, expected);
    }
  }
}

TEST(ConversionLoops, TheLoopForEveryProcessorConvertsElementByElement) {
  for (const LoopCase& c : kCases) CheckLoop(c, c.baseline);
}

TEST(ConversionLoops, TheAvx2LoopConvertsElementByElement) {
  if (!ProcessorHasAvx2()) GTEST_SKIP() << "this processor has no AVX2";
  for (const LoopCase& c : kCases) CheckLoop(c, c.avx2);
}

}  // namespace
}  // namespace tav
