// The station file tavSH1NN.int: one line per PLC station, read into the PlcTable at every
// initialisation.
//
//   station=type,address[,slot]                    type 7: S7 station, slot in hexadecimal
//   station=type,address[,ltsap[,rtsap[,wtsap]]]   type 5: S5 station; type 6 alike, no defaults
//
// The address is the station's Ethernet address, exactly 12 hexadecimal digits.
// A ";" starts a comment. Blanks and control characters are dropped up to the second comma of a
// line; from there on blanks are kept, so TSAPs may hold them.
#pragma once

#include <cstddef>
#include <cstdio>

#include "abi/driver_instance.h"

namespace tav {

// A filtered line: at most 135 kept characters and the terminating NUL.
inline constexpr size_t kStationLineSize = 136;
inline constexpr size_t kStationLineKept = kStationLineSize - 1;

// The longest file name the driver uses, "tavSH1" + number + ".int"; driver numbers -9,999 to
// 99,999 fit.
inline constexpr size_t kStationFileNameLength = 15;

// The most bytes a station file may hold. 98 stations with a comment line each take a few
// kilobytes; the bound lets initialisation end when the name leads to a device that streams
// bytes without end.
inline constexpr size_t kStationFileByteLimit = 65'536;

// What is left of a station file's byte limit while it is read.
struct StationFileBudget {
  size_t bytesLeft = kStationFileByteLimit;
  bool exceeded = false;  // the file held more bytes than the limit
};

// Reads the next line of `file` into `line`, filtered: bytes 0x80 to 0xFF and control characters
// are dropped, and blanks too until the line's second comma. Characters beyond the 135th are
// dropped as well, so an over-long line is cut and the next line starts where it should. A last
// line without a newline counts only when it keeps 10 or more characters. Every byte read is
// taken from `budget`; a byte beyond it ends the reading with `budget.exceeded` set.
// Returns true when a line was delivered; false at the end of the file or of the budget.
bool ReadStationLine(std::FILE* file, char (&line)[kStationLineSize], StationFileBudget& budget);

// Reads tavSH1NN.int (NN: `driverNumber`, at least two digits) from the current directory into the
// PlcTable, which the caller has reset. Each accepted line fills its station's entry and logs the
// station; a rejected line is logged and leaves what it stored so far. A driver number whose file
// name would exceed 15 characters names no file, and a name that cannot be read from its first
// byte (a folder) is no file either: both are logged as not found. A file longer than
// kStationFileByteLimit is read up to the limit, then logged and given up.
// Returns true when at least one line was accepted in full; false when the file is missing, too
// long, or no line was accepted.
bool ReadStationFile(DriverInstance& instance, int driverNumber);

}  // namespace tav
