// Building the connect records that open a station's H1 connections. Every record starts
// zero-filled, so the library sees nothing but the fields set here.
#pragma once

#include <bit>

#include "abi/driver_instance.h"
#include "platform/h1_records.h"

namespace tav {

// The library reads and writes the record's 16-bit fields little-endian, which the driver's
// targets are; the identifier and status word are therefore read as plain fields.
static_assert(std::endian::native == std::endian::little);

// The connect record of an S5 station's read connection: the station's Ethernet address, its
// read TSAP `rtsap` as remote and `ltsap` as local TSAP (8 bytes each, zero-padded, cut to 8),
// identifier 0.
ConnectRecord BuildS5ConnectRecord(const PlcEntry& entry);

// Turns the record of an S5 read connection into that of the write connection: only the remote
// TSAP changes, to the station's `wtsap`. The rest, the identifier field included, stays as the
// first open left it.
void SetS5WriteTsap(ConnectRecord& record, const PlcEntry& entry);

// The connect record of an S7 station (and of every type but S5): the station's Ethernet address,
// remote TSAP 0x03 and the CPU slot, local TSAP 0x01 0x01, identifier 0.
ConnectRecord BuildS7ConnectRecord(const PlcEntry& entry);

// The six address bytes from the station's `ethernetAddress` text, two hexadecimal digits per
// byte. Text that ends early leaves the remaining bytes 0; a pair that starts with no hex digit
// leaves its byte 0, and a pair with one hex digit gives that digit's value.
void ParseEthernetAddress(const char (&text)[sizeof PlcEntry::ethernetAddress],
                          uint8_t (&address)[kEthernetAddressBytes]);

}  // namespace tav
