// Data transfer: reading and writing runs of elements of one kind (commands 6 and 10) and single
// tags with bit access (commands 5 and 7) between the host's arrays and one PLC station, through
// the instance's TransferBuffer and the H1 driver library.
//
// Every command takes a TransferBlock as its parameter record and returns 0 on success, or:
//  1 when the TransferBlock breaks a limit and was refused before anything was sent (a log line
//    says why); when the station or the library answered with an error (status 14 to the request,
//    a failed answer or a non-zero status word);
//  2 when the station has no connection, the library kept refusing the request, or the answer did
//    not come within the instance's retry budget.
// The host's array is written only by a read that succeeded.
#pragma once

#include "abi/records.h"

namespace tav {

// Command 5: reads one tag into its value cell. A 16-bit element lands in bytes 2 and 3 of the
// cell, a 32-bit element in bytes 0 to 3; a bit tag puts 0 or 1 into bytes 2 and 3. Sets the
// TransferBlock's count to 1. A failed read leaves the value cell as it was. A bit number beyond
// the element (8 to 15 of a byte, 16 and up of a word, 32 and up of a double word or float) is
// refused with 1 before anything is sent.
CommandResult ReadTag(const Request& request);

// Command 6: reads `count` elements of the tag's kind into the host's array.
CommandResult ReadBlock(const Request& request);

// Command 7: writes one tag from its value cell. A bit tag takes its state from bit 0 of bytes 2
// and 3 and is written by reading the whole element, changing the bit and writing the element
// back; nothing is written when that read fails, and its failure is logged as the write's. A bit
// number beyond the element is refused as for command 5. Sets the TransferBlock's count to 1 and
// changes nothing else of it or of the value cell.
CommandResult WriteTag(const Request& request);

// Command 10: writes `count` elements of the tag's kind from the host's array.
CommandResult WriteBlock(const Request& request);

}  // namespace tav
