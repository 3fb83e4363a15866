// What the host's binary interface fixes beyond single records.
#pragma once

namespace tav {

// The host runs the driver as a 32-bit library: its records carry 32-bit pointers. Records with
// pointers are checked against the host's offsets in 32-bit builds; 64-bit builds keep the field
// order with natural alignment and serve development only.
inline constexpr bool kHostAbi = sizeof(void*) == 4;

}  // namespace tav
