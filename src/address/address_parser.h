// Commands 3 and 4: turn a tag's 13-character address text into the station, AreaTypeCode, packed
// address, bit number and element width that every later transfer of the tag uses.
//
// An address names a station (positions 0-1) and either a data block or an input, output or flag
// area:
//   data-block form   SS T K BBB OOOO NN   T = D data block, X extended data block, S string;
//                                          K = B, W, D, F; BBB block; OOOO offset;
//                                          NN bit number or string length, or blanks
//   I/Q/M form        SS A K OOOO NN       A = I, Q, M; K = B, W; OOOO byte offset;
//                                          NN bit number or blanks
// Lower case is accepted and a short text is filled with blanks to 13 characters.
//
// The parser keeps one process-wide work area (the normalised text and the check-mode flag), so
// it is not reentrant: requests are served one at a time, across all instances.
#pragma once

#include "abi/records.h"

namespace tav {

// Command 3. Parses the AddressBlock's address text against the syntax, the station table and the
// host data type, writing the outputs as it goes. Returns 0 when the address is valid and the
// outputs describe it; 1 when it is invalid (outputs may be partly written and mean nothing), and
// when the instance or AddressBlock pointer is null (nothing written). A null address text is an
// empty text.
CommandResult ParseAddress(const Request& request);

// Command 4. The same parse in check mode: bit digits are not read and the host data type matters
// only for strings. Returns 0 when the address is valid; 1 when it is invalid, is a string address,
// or the element count is above 1000.
CommandResult CheckAddress(const Request& request);

}  // namespace tav
