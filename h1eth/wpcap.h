// The few pieces of the packet-capture API (wpcap.dll, as Npcap and WinPcap install it) that the
// Windows link uses, declared here as the DLL exports them: the link loads the DLL at run time and
// takes each function by name, so nothing of a capture SDK is needed to build, and a machine
// without Npcap still loads libh1eth (whose open then says what is missing).
#pragma once

#include <cstdint>

namespace tav::h1eth::wpcap {

struct Handle;  // pcap_t: one open adapter

// struct pcap_pkthdr: Windows' struct timeval is two 32-bit longs on every Windows ABI.
struct PacketHeader {
  int32_t seconds;
  int32_t microseconds;
  uint32_t capturedBytes;
  uint32_t frameBytes;
};
static_assert(sizeof(PacketHeader) == 16);

struct FilterInstruction;  // struct bpf_insn, only ever handed back to the DLL

// struct bpf_program: filled by compile, handed to setfilter, freed by freecode.
struct FilterProgram {
  unsigned length;
  FilterInstruction* instructions;
};

inline constexpr int kErrorBytes = 256;                // PCAP_ERRBUF_SIZE
inline constexpr uint32_t kNetmaskUnknown = 0xFFFFFFFF;  // PCAP_NETMASK_UNKNOWN

// Every function of the API is cdecl, also in 32-bit processes.
using Create = Handle*(__cdecl*)(const char* device, char* error);
using SetInt = int(__cdecl*)(Handle*, int);  // set_snaplen, set_timeout, set_promisc, ...
using Activate = int(__cdecl*)(Handle*);
using Compile = int(__cdecl*)(Handle*, FilterProgram*, const char* text, int optimize,
                              uint32_t netmask);
using SetFilter = int(__cdecl*)(Handle*, FilterProgram*);
using FreeCode = void(__cdecl*)(FilterProgram*);
using SetNonBlock = int(__cdecl*)(Handle*, int nonBlocking, char* error);
using GetEvent = void*(__cdecl*)(Handle*);  // a HANDLE signalled when frames wait
using NextEx = int(__cdecl*)(Handle*, PacketHeader** header, const uint8_t** data);
using SendPacket = int(__cdecl*)(Handle*, const uint8_t* frame, int bytes);
using GetError = char*(__cdecl*)(Handle*);
using Close = void(__cdecl*)(Handle*);

}  // namespace tav::h1eth::wpcap
