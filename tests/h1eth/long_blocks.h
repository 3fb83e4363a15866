// The test H1 network's stations beyond the example's: two with long data blocks, whose transfers
// of 10,000 bytes cross H1 as many DTs (S5 station 6 with data block 20 of 5,000 words, S7
// station 7 with data block 20 of 10,000 bytes), as station file lines and as simulation file
// stations; and h1eth.conf's line that names the example's type-6 station 5, whose data blocks
// count words. Shared by the tests on Linux and those of the Windows DLL under Wine.
#pragma once

namespace tav::h1eth::test {

inline constexpr const char* kLongBlockStations =
    "6=5,0A0B0C010206\n"
    "7=7,0A0B0C010207,2\n";

inline constexpr const char* kLongBlockNetwork =
    "\n[[station]]\nname = \"long S5\"\naddress = \"0A0B0C010206\"\ntype = 5\n"
    "[[station.db]]\nnumber = 20\nsize = 5000\n"
    "\n[[station]]\nname = \"long S7\"\naddress = \"0A0B0C010207\"\ntype = 7\nslot = 2\n"
    "[[station.db]]\nnumber = 20\nsize = 10000\n";

inline constexpr const char* kWordAddressedStations = "word_addressed = [\"0A0B0C010205\"]\n";

// Retransmission after 50 ms keeps the tests on a bad network short.
inline constexpr const char* kQuickSettings = "retransmission_ms = 50\nacknowledge_ms = 5\n";

}  // namespace tav::h1eth::test
