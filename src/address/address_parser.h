// Commands 3 and 4: turn a tag's 13-character address text into the station, AreaTypeCode, packed
// address, bit number and element width that every later transfer of the tag uses. The grammar
// (grammar/address_grammar.h) reads the address; the parser adds the work area and the log line
// for an extended data block on an S7 station.
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
