// Every element kind written and read back on the stations of examples/tavSH101.int, as their
// PLCs hold them: the same rows over every H1 implementation behind the driver (the simulated
// network, raw Ethernet).
#pragma once

#include <span>

#include "driver_host.h"

namespace tav::e2e {

inline std::span<const RoundTrip> EveryKindOfTheExampleStations() {
  static const RoundTrip rows[] = {
      // S7 station 1, data block 20 (64 bytes), and its process areas.
      {"01DB0200001", 1, 3, Words({0x11, 0x22, 0xFF})},
      {"01DW0200004", 1, 2, Words({0x1234, 0xABCD})},
      {"01DW0200007", 1, 1, Words({0xBEEF})},
      {"01DD0200008", 4, 2, DWords({0x12345678, 0xCAFEBABE})},
      {"01DD0200018", 4, 1, DWords({0x01020304})},
      {"01DF0200024", 3, 2, Floats({1.5f, -2.25e-20f})},
      {"01DF0200034", 3, 1, Floats({3.0f})},
      {"01SB020004010", 7, 1, Text("ABCDEFGHIJ")},
      {"01IB0100", 1, 2, Words({0x80, 0x7F})},
      {"01QW0020", 1, 2, Words({0x1234, 0x5678})},
      {"01MW0030", 1, 1, Words({0xFEDC})},
      // S5 station 3, data block 10 (256 words), extended data block 10, process areas.
      {"03DW0100030", 1, 2, Words({0x1234, 0xABCD})},
      {"03DD0100040", 4, 1, DWords({0x12345678})},
      {"03DD0100043", 5, 2, DWords({0x89ABCDEF, 1})},
      {"03DF0100050", 3, 2, Floats({1.5f, -100.0f})},
      {"03DF0100055", 3, 1, Floats({0.75f})},
      {"03XW0100005", 1, 3, Words({7, 8, 9})},
      {"03XD0100011", 5, 1, DWords({0xDEADBEEF})},
      {"03XF0100020", 3, 1, Floats({-0.5f})},
      {"03SB010006010", 7, 1, Text("ABCDEFGHIJ")},
      {"03QB0004", 1, 2, Words({0x01, 0xFE})},
      {"03MW0020", 1, 2, Words({0x1234, 0x5678})},
      // Type-6 station 5, data block 10 (128 words).
      {"05DB0100003", 1, 2, Words({0x5A, 0xA5})},
      {"05DW0100010", 1, 2, Words({0x1234, 0xABCD})},
      {"05DF0100021", 3, 1, Floats({6.5f})},
      {"05SB010003006", 7, 1, Text("ABCDEF")},
      {"05IW0010", 1, 1, Words({0x1357})},
  };
  return rows;
}

}  // namespace tav::e2e
