#include "config/station_file.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <string_view>

#include "vocabulary/ethernet_address.h"
#include "config/plc_table.h"
#include "platform/host_log.h"

namespace tav {
namespace {

constexpr int kFirstFileStation = 1;  // entry 0 stays unconfigured
constexpr int kNoStationRead = 100;   // what a line without a leading number leaves
constexpr int kNoTypeRead = 0;        // what a line without "=type" leaves
constexpr int kPlcTypeFirst = 5;
constexpr int kPlcTypeLast = 7;

constexpr int32_t kNoSlotRead = 99;  // stored when the slot text holds no hexadecimal number
constexpr int32_t kSlotFirst = 1;
constexpr int32_t kSlotLast = 255;

// A last line without a newline counts only when it keeps this many characters; a shorter
// fragment is dropped.
constexpr size_t kLastLineMinimum = 10;

// An Ethernet address: six bytes, two hexadecimal digits each.
constexpr size_t kEthernetAddressDigits = 12;

// Bytes are judged as signed characters, so 0x80 to 0xFF are negative and never kept.
constexpr signed char kBlank = 0x20;
constexpr int kCommasBeforeBlanksKept = 2;

// S5 stations take these TSAPs unless their line names others.
constexpr char kDefaultLocalTsap[] = "KORVAL  ";
constexpr char kDefaultReadTsap[] = "KORREAD ";
constexpr char kDefaultWriteTsap[] = "KORWRITE";

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using StationFileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Reads a signed decimal number as "%d" does: leading white space, an optional sign, digits.
// Out-of-range values saturate. Returns false, leaving `value` and `cursor` alone, when no digit
// follows.
bool ScanDecimal(const char*& cursor, int& value) {
  const char* p = cursor;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int>::max()} + 1;
  int64_t magnitude = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    magnitude = std::min(magnitude * 10 + (*p - '0'), kLimit);
  }
  const int64_t signedValue = negative ? -magnitude : std::min(magnitude, kLimit - 1);
  value = static_cast<int>(signedValue);
  cursor = p;
  return true;
}

// Reads a hexadecimal number as "%X" does: leading white space, an optional sign, an optional
// "0x", digits up to the first character that is not one. Large values saturate well above any
// slot. Returns false, leaving `value` alone, when no digit follows.
bool ScanHex(const char* p, int32_t& value) {
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && HexDigitValue(p[2]) >= 0) p += 2;
  if (HexDigitValue(*p) < 0) return false;
  constexpr int64_t kLimit = std::numeric_limits<int32_t>::max();
  int64_t magnitude = 0;
  for (; HexDigitValue(*p) >= 0; ++p) {
    magnitude = std::min(magnitude * 16 + HexDigitValue(*p), kLimit);
  }
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return true;
}

// Reads "station=type" at the start of the line; what isn't there keeps its preset.
void ScanStationAndType(const char* line, int& station, int& type) {
  if (!ScanDecimal(line, station) || *line != '=') return;
  ++line;
  ScanDecimal(line, type);
}

// Sets the characters of the text in `field` to NUL, up to its terminator or the field's end.
template <size_t N>
void ClearText(char (&field)[N]) {
  std::fill(std::begin(field), std::find(std::begin(field), std::end(field), '\0'), '\0');
}

// Stores `text` NUL-terminated in `field`, cut to the field's width.
template <size_t N>
void StoreText(char (&field)[N], std::string_view text) {
  const size_t length = std::min(text.size(), N - 1);
  std::copy_n(text.data(), length, field);
  field[length] = '\0';
}

// The text from `start` up to the next comma, and where the text after that comma starts
// (nullptr when there is no further comma).
struct Field {
  std::string_view text;
  const char* next;
};

Field NextField(const char* start) {
  const char* comma = std::strchr(start, ',');
  if (comma == nullptr) return {start, nullptr};
  return {{start, static_cast<size_t>(comma - start)}, comma + 1};
}

bool IsEthernetAddress(std::string_view text) {
  return text.size() == kEthernetAddressDigits &&
         std::all_of(text.begin(), text.end(), [](char c) { return HexDigitValue(c) >= 0; });
}

void LogIllegalLine(const char* line) {
  err(kLogLevelNormal, "TavSH1: Illegal input line %s", line);
}

// Stores the TSAP that starts at `cursor` in `field`. Returns where the next TSAP starts, or
// nullptr when the line ends with this one.
template <size_t N>
const char* StoreTsap(char (&field)[N], const char* cursor) {
  const Field tsap = NextField(cursor);
  ClearText(field);
  StoreText(field, tsap.text);
  return tsap.next;
}

// Stores the local, read and write TSAPs of an S5 or type-6 line, starting at the text after the
// address. A TSAP the line leaves out keeps what the entry holds.
void StoreTsaps(PlcEntry& entry, const char* cursor) {
  cursor = StoreTsap(entry.ltsap, cursor);
  if (cursor == nullptr) return;
  cursor = StoreTsap(entry.rtsap, cursor);
  if (cursor == nullptr) return;
  ClearText(entry.wtsap);
  StoreText(entry.wtsap, cursor);  // the rest of the line, further commas included
}

// Applies one filtered line to the PlcTable. Returns true when the line configured its station
// in full.
bool ApplyStationLine(DriverInstance& instance, char* line) {
  if (char* comment = std::strchr(line, ';')) *comment = '\0';

  int station = kNoStationRead;
  int type = kNoTypeRead;
  ScanStationAndType(line, station, type);
  if (station < kFirstFileStation || station > kLastStation) {
    LogIllegalLine(line);
    return false;
  }
  if (type < kPlcTypeFirst || type > kPlcTypeLast) {
    err(kLogLevelNormal, "TavSH1: Illegal PlcType at line %s", line);
    return false;
  }

  PlcEntry& entry = instance.plcTable[station];
  if (type == kPlcTypeS5) {
    StoreText(entry.ltsap, kDefaultLocalTsap);
    StoreText(entry.rtsap, kDefaultReadTsap);
    StoreText(entry.wtsap, kDefaultWriteTsap);
  }
  entry.plcType = static_cast<uint8_t>(type);

  const char* afterType = std::strchr(line, ',');
  if (afterType == nullptr) {
    LogIllegalLine(line);
    return false;
  }
  const Field address = NextField(afterType + 1);
  // Anything but 12 hex digits would dial another station, or none: no byte of it is stored, so
  // the station stays as it was (unconfigured, when no earlier line configured it).
  if (!IsEthernetAddress(address.text)) {
    LogIllegalLine(line);
    return false;
  }
  StoreText(entry.ethernetAddress, address.text);

  if (address.next != nullptr) {
    if (type == kPlcTypeS7) {
      int32_t slot = kNoSlotRead;
      ScanHex(address.next, slot);
      if (slot < kSlotFirst || slot > kSlotLast) {
        err(kLogLevelNormal, "TavSH1: Illegal Slot # %s", line);
        return false;
      }
      entry.slot = static_cast<uint8_t>(slot);
    } else {
      StoreTsaps(entry, address.next);
    }
  }
  LogStation(instance, station);
  return true;
}

// Whether the opened file gives its first byte, or ends there: a folder opens on some systems
// but fails the first read.
bool Readable(std::FILE* file) {
  const int first = std::fgetc(file);
  if (first == EOF) return std::ferror(file) == 0;
  std::ungetc(first, file);
  return true;
}

}  // namespace

bool ReadStationLine(std::FILE* file, char (&line)[kStationLineSize], StationFileBudget& budget) {
  size_t kept = 0;
  int commas = 0;
  for (;;) {
    const int next = std::fgetc(file);
    if (next == EOF) {
      line[kept] = '\0';
      return kept >= kLastLineMinimum;
    }
    if (budget.bytesLeft == 0) {
      budget.exceeded = true;
      line[kept] = '\0';
      return false;
    }
    --budget.bytesLeft;
    if (next == '\n') {
      line[kept] = '\0';
      return true;
    }
    if (next == ',') ++commas;
    const auto c = static_cast<signed char>(next);
    const bool keep = commas < kCommasBeforeBlanksKept ? c > kBlank : c >= kBlank;
    if (keep && kept < kStationLineKept) line[kept++] = static_cast<char>(c);
  }
}

bool ReadStationFile(DriverInstance& instance, int driverNumber) {
  // Room for any int; a name longer than the driver's 15 characters is not looked for.
  char fileName[32];
  const int nameLength = std::snprintf(fileName, sizeof fileName, "tavSH1%.2d.int", driverNumber);
  StationFileHandle file;
  if (nameLength >= 0 && static_cast<size_t>(nameLength) <= kStationFileNameLength) {
    file.reset(std::fopen(fileName, "r"));
  }
  if (file == nullptr || !Readable(file.get())) {
    err(kLogLevelNormal, "TavSH1 : File %s not found !", fileName);
    return false;
  }

  bool anyStation = false;
  char line[kStationLineSize];
  StationFileBudget budget;
  while (ReadStationLine(file.get(), line, budget)) {
    if (ApplyStationLine(instance, line)) anyStation = true;
  }
  if (budget.exceeded) {
    err(kLogLevelNormal, "TavSH1: File %s exceeds %d bytes, reading stopped", fileName,
        static_cast<int>(kStationFileByteLimit));
    return false;
  }
  return anyStation;
}

}  // namespace tav
