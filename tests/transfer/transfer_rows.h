// Tables that block read and block write share: the request of every kind on every station type,
// the bytes of each kind in the TransferBuffer against the host's array, and TransferBlocks that
// break a limit.
#pragma once

#include <climits>
#include <cstdint>
#include <vector>

#include "transfer_test.h"

namespace tav::test {

struct RequestRow {
  const char* name;
  uint8_t plcType;
  uint32_t code;
  uint32_t packedAddress;
  int32_t count;
  uint16_t areaKind;
  uint16_t blockNumber;
  uint16_t start;
  uint16_t length;
};

constexpr uint32_t Extended(uint32_t code) {
  return code | kQualifierExtended << 8;
}

// What a block read and a block write of the same TransferBlock send. Start and length count bytes
// on S7 stations, words in S5 data blocks, and bytes in the S5 input, output and flag areas.
inline constexpr RequestRow kRequestRows[] = {
    // S7: bytes; words at 2 × the stored offset; double words and floats at 4 ×; odd codes
    // advance by 1 (words) or 2 bytes.
    {"S7 bytes", 7, kAreaDataByte, DataBlockAddress(10, 12), 3, 1, 10, 12, 3},
    {"S7 words", 7, kAreaDataWord, DataBlockAddress(20, 5), 3, 1, 20, 10, 6},
    {"S7 word at odd byte", 7, kAreaDataWordOdd, DataBlockAddress(20, 3), 1, 1, 20, 7, 2},
    {"S7 double words", 7, kAreaDataDouble, DataBlockAddress(20, 1), 2, 1, 20, 4, 8},
    {"S7 odd double word", 7, kAreaDataDoubleOdd, DataBlockAddress(20, 1), 1, 1, 20, 6, 4},
    {"S7 float", 7, kAreaDataFloat, DataBlockAddress(20, 1), 1, 1, 20, 4, 4},
    {"S7 odd float", 7, kAreaDataFloatOdd, DataBlockAddress(20, 2), 1, 1, 20, 10, 4},
    {"S7 block 999", 7, kAreaDataWord, DataBlockAddress(999, 0), 1, 1, 999, 0, 2},
    {"S7 string", 7, kAreaString, StringAddress(5, 4, 10), 1, 1, 5, 4, 10},
    {"S7 odd string", 7, kAreaString, StringAddress(5, 4, 7), 1, 1, 5, 4, 6},
    {"S7 string of one", 7, kAreaString, StringAddress(5, 4, 1), 1, 1, 5, 4, 0},
    {"S7 input bytes", 7, kAreaInputBytes, 5, 2, 3, 0, 5, 2},
    {"S7 output bytes", 7, kAreaOutputBytes, 5, 2, 4, 0, 5, 2},
    {"S7 flag bytes", 7, kAreaFlagBytes, 5, 2, 2, 0, 5, 2},
    {"S7 input words", 7, kAreaInputWords, 2, 3, 3, 0, 4, 6},
    {"S7 output words", 7, kAreaOutputWords, 2, 3, 4, 0, 4, 6},
    {"S7 flag words", 7, kAreaFlagWords, 1, 1, 2, 0, 2, 2},
    {"S7 count 0", 7, kAreaDataWord, DataBlockAddress(20, 5), 0, 1, 20, 10, 0},
    // S5: data blocks in words; double words and floats take two; odd codes advance one word.
    {"S5 words", 5, kAreaDataWord, DataBlockAddress(20, 5), 3, 1, 20, 5, 3},
    {"S5 extended words", 5, Extended(kAreaDataWord), DataBlockAddress(7, 5), 3, 10, 7, 5, 3},
    {"S5 word kind 1", 5, kAreaDataWordOdd, DataBlockAddress(20, 3), 1, 1, 20, 3, 1},
    {"S5 double words", 5, kAreaDataDouble, DataBlockAddress(20, 2), 2, 1, 20, 4, 4},
    {"S5 odd double word", 5, kAreaDataDoubleOdd, DataBlockAddress(20, 2), 1, 1, 20, 5, 2},
    {"S5 float", 5, kAreaDataFloat, DataBlockAddress(20, 4), 1, 1, 20, 8, 2},
    {"S5 odd float", 5, kAreaDataFloatOdd, DataBlockAddress(20, 1), 1, 1, 20, 3, 2},
    {"S5 extended odd float", 5, Extended(kAreaDataFloatOdd), DataBlockAddress(9, 1), 1, 10, 9, 3,
     2},
    {"S5 string", 5, kAreaString, StringAddress(5, 4, 10), 1, 1, 5, 4, 5},
    {"S5 odd string", 5, kAreaString, StringAddress(5, 4, 7), 1, 1, 5, 4, 3},
    {"S5 string's length stays out of its block", 5, kAreaString, StringAddress(255, 4, 80), 1, 1,
     255, 4, 40},
    {"S5 input bytes", 5, kAreaInputBytes, 5, 2, 3, 0, 5, 2},
    {"S5 flag bytes", 5, kAreaFlagBytes, 9999, 1, 2, 0, 9999, 1},
    {"S5 input words: byte offset, 2 bytes a word", 5, kAreaInputWords, 4, 3, 3, 0, 4, 6},
    {"S5 output words", 5, kAreaOutputWords, 4, 1, 4, 0, 4, 2},
    {"S5 flag words", 5, kAreaFlagWords, 10, 2, 2, 0, 10, 4},
    // Type 6 takes the S5 units, with byte addresses and block numbers above 255.
    {"type 6 bytes", 6, kAreaDataByte, DataBlockAddress(300, 7), 2, 1, 300, 7, 2},
    {"type 6 extended bytes", 6, Extended(kAreaDataByte), DataBlockAddress(1, 7), 2, 10, 1, 7, 2},
    {"type 6 words", 6, kAreaDataWord, DataBlockAddress(20, 5), 3, 1, 20, 5, 3},
    {"type 6 odd float", 6, kAreaDataFloatOdd, DataBlockAddress(20, 1), 1, 1, 20, 3, 2},
    {"type 6 string", 6, kAreaString, StringAddress(5, 4, 10), 1, 1, 5, 4, 5},
    {"type 6 input words", 6, kAreaInputWords, 4, 3, 3, 0, 4, 6},
};

// The same elements as the station holds them (the TransferBuffer's bytes) and as the host holds
// them (little-endian 16-bit elements for bytes and words, 32-bit for double words and floats).
struct ConversionRow {
  const char* name;
  uint8_t plcType;
  uint32_t code;
  uint32_t packedAddress;
  int32_t count;
  Bytes station;
  Bytes host;
};

inline std::vector<ConversionRow> ConversionRows() {
  const Bytes letters = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J'};
  const Bytes exchanged = {'B', 'A', 'D', 'C', 'F', 'E', 'H', 'G', 'J', 'I'};
  const uint32_t block = DataBlockAddress(20, 2);
  return {
      {"S7 bytes", 7, kAreaDataByte, block, 2, {0xAB, 0x01}, {0xAB, 0, 0x01, 0}},
      {"type 6 bytes", 6, kAreaDataByte, block, 2, {0xAB, 0x01}, {0xAB, 0, 0x01, 0}},
      {"S7 words are big-endian",
       7,
       kAreaDataWord,
       block,
       2,
       {0x12, 0x34, 0x56, 0x78},
       {0x34, 0x12, 0x78, 0x56}},
      {"S7 odd words too", 7, kAreaDataWordOdd, block, 1, {0x12, 0x34}, {0x34, 0x12}},
      {"S5 words are in host order",
       5,
       kAreaDataWord,
       block,
       2,
       {0x34, 0x12, 0x78, 0x56},
       {0x34, 0x12, 0x78, 0x56}},
      {"type 6 words too", 6, kAreaDataWord, block, 1, {0x34, 0x12}, {0x34, 0x12}},
      {"S7 double words are big-endian",
       7,
       kAreaDataDouble,
       block,
       2,
       {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0},
       {0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A}},
      {"S5 double words: high word first",
       5,
       kAreaDataDoubleOdd,
       block,
       1,
       {0x34, 0x12, 0x78, 0x56},
       {0x78, 0x56, 0x34, 0x12}},
      {"S7 floats are big-endian singles",
       7,
       kAreaDataFloat,
       block,
       2,
       {0x3F, 0x80, 0x00, 0x00, 0xC2, 0xC8, 0x00, 0x00},
       {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0xC8, 0xC2}},
      {"S5 floats: 1.0 and -100.0 in the S5 format",
       5,
       kAreaDataFloat,
       block,
       2,
       {0x40, 0x01, 0x00, 0x00, 0x9C, 0x07, 0x00, 0x00},
       {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0xC8, 0xC2}},
      {"type 6 floats too",
       6,
       kAreaDataFloatOdd,
       block,
       1,
       {0x40, 0x01, 0x00, 0x00},
       {0x00, 0x00, 0x80, 0x3F}},
      {"S7 string", 7, kAreaString, StringAddress(5, 4, 10), 1, letters, letters},
      {"type 5 string: pairs exchanged", 5, kAreaString, StringAddress(5, 4, 10), 1, exchanged,
       letters},
      {"type 6 string: as it comes", 6, kAreaString, StringAddress(5, 4, 10), 1, letters, letters},
      {"S5 odd string: whole pairs only",
       5,
       kAreaString,
       StringAddress(5, 4, 7),
       1,
       {'B', 'A', 'D', 'C', 'F', 'E'},
       {'A', 'B', 'C', 'D', 'E', 'F'}},
      {"S7 input bytes", 7, kAreaInputBytes, 3, 2, {0x80, 0x7F}, {0x80, 0, 0x7F, 0}},
      {"S5 flag bytes", 5, kAreaFlagBytes, 3, 1, {0xFE}, {0xFE, 0}},
      {"S7 output words are big-endian", 7, kAreaOutputWords, 2, 1, {0x12, 0x34}, {0x34, 0x12}},
      {"S5 input words are big-endian too",
       5,
       kAreaInputWords,
       4,
       2,
       {0x12, 0x34, 0x56, 0x78},
       {0x34, 0x12, 0x78, 0x56}},
      {"type 6 flag words too", 6, kAreaFlagWords, 4, 1, {0x12, 0x34}, {0x34, 0x12}},
  };
}

// A TransferBlock that breaks one limit; the rest is a good S7 word read of data block 20.
struct BrokenRow {
  const char* name;
  uint8_t plcType;
  int32_t plc;
  uint32_t code;
  uint32_t packedAddress;
  int32_t count;
  bool nullData;
};

inline constexpr int kPlc = 3;

inline constexpr BrokenRow kBrokenRows[] = {
    {"PLC -1", 7, -1, kAreaDataWord, DataBlockAddress(20, 0), 1, false},
    {"PLC 99", 7, 99, kAreaDataWord, DataBlockAddress(20, 0), 1, false},
    {"PLC INT32_MIN", 7, INT32_MIN, kAreaDataWord, DataBlockAddress(20, 0), 1, false},
    {"negative count", 7, kPlc, kAreaDataWord, DataBlockAddress(20, 0), -1, false},
    {"most negative count", 5, kPlc, kAreaDataDouble, DataBlockAddress(20, 0), INT32_MIN, false},
    {"negative count of a string", 7, kPlc, kAreaString, StringAddress(5, 4, 10), -1, false},
    {"null data", 7, kPlc, kAreaDataWord, DataBlockAddress(20, 0), 1, true},
    {"unknown kind 'Z'", 7, kPlc, 'Z', DataBlockAddress(20, 0), 1, false},
    {"unknown kind 2", 5, kPlc, 2, DataBlockAddress(20, 0), 1, false},
    {"unknown kind 0xFF with a known second byte", 7, kPlc, 0x57FF, 4, 1, false},
    {"S7 words beyond the TransferBuffer", 7, kPlc, kAreaDataWord, DataBlockAddress(20, 0), 5001,
     false},
    {"S5 double words beyond it", 5, kPlc, kAreaDataDouble, DataBlockAddress(20, 0), 2501, false},
    {"type 6 bytes travel as words", 6, kPlc, kAreaDataByte, DataBlockAddress(20, 0), 5001, false},
    {"S5 input words beyond it", 5, kPlc, kAreaInputWords, 0, 5001, false},
    {"S7 bytes beyond it", 7, kPlc, kAreaFlagBytes, 0, 10001, false},
    {"huge count", 7, kPlc, kAreaDataFloat, DataBlockAddress(20, 0), INT32_MAX, false},
    {"S7 word start beyond 16 bits", 7, kPlc, kAreaDataWord, DataBlockAddress(20, 0x8000), 1,
     false},
    {"S7 odd double word start beyond 16 bits", 7, kPlc, kAreaDataDoubleOdd,
     DataBlockAddress(20, 0x4000), 1, false},
    {"S5 odd float start beyond 16 bits", 5, kPlc, kAreaDataFloatOdd, DataBlockAddress(20, 0xFFFF),
     1, false},
    {"S7 flag word start beyond 16 bits", 7, kPlc, kAreaFlagWords, 0xFFFF, 1, false},
};

// Just inside the limits: these are sent.
inline constexpr BrokenRow kLimitRows[] = {
    {"S7 words filling the TransferBuffer", 7, kPlc, kAreaDataWord, DataBlockAddress(20, 0), 5000,
     false},
    {"S5 double words filling it", 5, kPlc, kAreaDataDouble, DataBlockAddress(20, 0), 2500, false},
    {"S7 bytes filling it", 7, kPlc, kAreaInputBytes, 0, 10000, false},
    {"S7 odd double word at the top", 7, kPlc, kAreaDataDoubleOdd, DataBlockAddress(20, 0x3FFF), 1,
     false},
    {"S5 word at the top", 5, kPlc, kAreaDataWord, DataBlockAddress(20, 0xFFFF), 1, false},
    {"PLC 0", 7, 0, kAreaDataWord, DataBlockAddress(20, 0), 1, false},
    {"PLC 98", 7, 98, kAreaDataWord, DataBlockAddress(20, 0), 1, false},
    {"count 0", 7, kPlc, kAreaDataWord, DataBlockAddress(20, 0), 0, false},
};

}  // namespace tav::test
