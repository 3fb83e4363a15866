// The packet link on Windows: one network adapter opened through the packet-capture DLL that
// Npcap installs (wpcap.dll; WinPcap's has the same functions), loaded when the first link opens
// and kept for the process's life. The adapter is found by what a Windows user knows of it (its
// friendly name, its Npcap device name or its MAC address) through the IP helper, which also gives
// its own Ethernet address: the capture API does not.
//
// Frames must reach the transport at once: the link asks for immediate delivery (Npcap), or sets
// the driver's copy threshold to nothing (WinPcap), since otherwise the capture driver holds
// frames back until 16,000 bytes have gathered or its read time-out passed. A kernel filter lets
// only H1 frames through, addressed to the adapter unless the link is promiscuous and never the
// adapter's own (the capture driver hands those back too). Waiting for a frame is a wait on the
// DLL's read event, bounded by the wait asked. Wine's wpcap.dll has no read event, and a read
// that waits on it may never return: the machine's libpcap below it, without immediate delivery,
// starts counting the read time-out only once a frame has arrived. There the link never lets
// the DLL wait: it looks for a frame once a millisecond until the wait asked is over.
#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link.h"
#include "wpcap.h"

namespace tav::h1eth {

namespace {

constexpr int kSnapshotBytes = 2048;
// The DLL's read time-out: how long the capture driver may hold a frame back where it cannot
// hand frames over at once (Wine's DLL over the machine's libpcap hands them over a block at a
// time, each block at the latest this long after its first frame arrived).
constexpr int kReadTimeoutMilliseconds = 1;
constexpr int kActivateNoPermission = -8;  // PCAP_ERROR_PERM_DENIED
constexpr char kDevicePrefix[] = "\\Device\\NPF_";

// The functions of wpcap.dll the link calls. The optional ones are null where the DLL lacks them.
struct CaptureApi {
  wpcap::Create create = nullptr;
  wpcap::SetInt setSnapshotLength = nullptr;
  wpcap::SetInt setPromiscuous = nullptr;
  wpcap::SetInt setTimeout = nullptr;
  wpcap::Activate activate = nullptr;
  wpcap::Compile compile = nullptr;
  wpcap::SetFilter setFilter = nullptr;
  wpcap::FreeCode freeCode = nullptr;
  wpcap::SetNonBlock setNonBlock = nullptr;
  wpcap::NextEx nextEx = nullptr;
  wpcap::SendPacket sendPacket = nullptr;
  wpcap::GetError getError = nullptr;
  wpcap::Close close = nullptr;
  wpcap::SetInt setImmediateMode = nullptr;  // Npcap
  wpcap::SetInt setMinToCopy = nullptr;      // Npcap and WinPcap
  wpcap::GetEvent getEvent = nullptr;        // Npcap and WinPcap
  std::string missing;                       // the first function the DLL lacks
};

// Npcap's own folder first, by full path, so that its Packet.dll beside it is found without
// changing the search of the whole process; then the ordinary search (WinPcap, or Npcap installed
// in its WinPcap-compatible mode). A 32-bit process on 64-bit Windows sees the 32-bit DLLs under
// the same System32 path.
HMODULE LoadCaptureDll() {
  wchar_t system[MAX_PATH];
  const UINT length = GetSystemDirectoryW(system, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    const std::wstring npcap = std::wstring(system, length) + L"\\Npcap\\wpcap.dll";
    if (HMODULE module = LoadLibraryExW(npcap.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {
      return module;
    }
  }
  return LoadLibraryExW(L"wpcap.dll", nullptr, 0);
}

// Wine's own wpcap.dll, built on the machine's libpcap, exports pcap_getevent and
// pcap_setmintocopy as stubs that end the process when called; under Wine the link never calls
// them.
bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

template <typename Function>
void Bind(HMODULE module, const char* name, Function& function, std::string* missing) {
  function = reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
  if (function == nullptr && missing != nullptr && missing->empty()) *missing = name;
}

// Null when no capture DLL loads.
const CaptureApi* Api() {
  static const std::optional<CaptureApi> api = []() -> std::optional<CaptureApi> {
    const HMODULE module = LoadCaptureDll();
    if (module == nullptr) return std::nullopt;
    CaptureApi loaded;
    std::string* missing = &loaded.missing;
    Bind(module, "pcap_create", loaded.create, missing);
    Bind(module, "pcap_set_snaplen", loaded.setSnapshotLength, missing);
    Bind(module, "pcap_set_promisc", loaded.setPromiscuous, missing);
    Bind(module, "pcap_set_timeout", loaded.setTimeout, missing);
    Bind(module, "pcap_activate", loaded.activate, missing);
    Bind(module, "pcap_compile", loaded.compile, missing);
    Bind(module, "pcap_setfilter", loaded.setFilter, missing);
    Bind(module, "pcap_freecode", loaded.freeCode, missing);
    Bind(module, "pcap_setnonblock", loaded.setNonBlock, missing);
    Bind(module, "pcap_next_ex", loaded.nextEx, missing);
    Bind(module, "pcap_sendpacket", loaded.sendPacket, missing);
    Bind(module, "pcap_geterr", loaded.getError, missing);
    Bind(module, "pcap_close", loaded.close, missing);
    Bind(module, "pcap_set_immediate_mode", loaded.setImmediateMode, nullptr);
    if (!UnderWine()) {
      Bind(module, "pcap_setmintocopy", loaded.setMinToCopy, nullptr);
      Bind(module, "pcap_getevent", loaded.getEvent, nullptr);
    }
    return loaded;
  }();
  return api ? &*api : nullptr;
}

std::string TextOf(const wchar_t* wide) {
  if (wide == nullptr) return {};
  const int bytes = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 1) return {};
  std::string text(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, -1, text.data(), bytes, nullptr, nullptr);
  text.resize(static_cast<size_t>(bytes - 1));
  return text;
}

bool SameText(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// A MAC address as Windows writes it (00-1B-21-0A-0B-0C), with colons, or as 12 hex digits.
std::optional<EthernetAddress> ParseMacAddress(std::string_view text) {
  if (text.size() == 17) {
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
      if (i % 3 == 2) {
        if (text[i] != '-' && text[i] != ':') return std::nullopt;
      } else {
        digits += text[i];
      }
    }
    return ParseEthernetAddressText(digits);
  }
  return ParseEthernetAddressText(text);
}

std::string MacText(const EthernetAddress& address) {
  std::string text;
  for (const uint8_t byte : address) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    if (!text.empty()) text += '-';
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

struct Adapter {
  std::string friendlyName;
  std::string device;  // \Device\NPF_{GUID}
  EthernetAddress address{};
};

// The Ethernet adapters there are, in the IP helper's order.
std::vector<Adapter> Adapters() {
  std::vector<Adapter> adapters;
  ULONG bytes = 16 * 1024;
  std::vector<uint8_t> buffer;
  for (int attempt = 0; attempt < 4; ++attempt) {
    buffer.resize(bytes);
    auto* first = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    const ULONG result = GetAdaptersAddresses(
        AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
        nullptr, first, &bytes);
    if (result == ERROR_BUFFER_OVERFLOW) continue;
    if (result != NO_ERROR) return adapters;
    for (const IP_ADAPTER_ADDRESSES* entry = first; entry != nullptr; entry = entry->Next) {
      if (entry->PhysicalAddressLength != kEthernetAddressBytes || entry->AdapterName == nullptr) {
        continue;
      }
      Adapter adapter;
      adapter.friendlyName = TextOf(entry->FriendlyName);
      adapter.device = std::string(kDevicePrefix) + entry->AdapterName;
      std::copy_n(entry->PhysicalAddress, kEthernetAddressBytes, adapter.address.begin());
      adapters.push_back(std::move(adapter));
    }
    return adapters;
  }
  return adapters;
}

bool Names(const Adapter& adapter, const std::string& name) {
  if (SameText(adapter.friendlyName, name) || SameText(adapter.device, name)) return true;
  const std::optional<EthernetAddress> address = ParseMacAddress(name);
  return address && *address == adapter.address;
}

std::string ListOf(const std::vector<Adapter>& adapters) {
  if (adapters.empty()) return "none";
  std::string list;
  for (const Adapter& adapter : adapters) {
    if (!list.empty()) list += "; ";
    list += "'" + adapter.friendlyName + "' " + MacText(adapter.address) + " " + adapter.device;
  }
  return list;
}

// H1 frames: an 802.3 length, not an EtherType; LLC DSAP FE, SSAP FE, UI. Never the adapter's
// own; only those addressed to it unless promiscuous.
std::string FilterText(const EthernetAddress& own, bool promiscuous) {
  std::string mac = MacText(own);
  std::ranges::replace(mac, '-', ':');
  std::string text =
      "ether[12:2] < 0x600 and ether[14:2] = 0xfefe and ether[16] = 3 and not ether src " + mac;
  if (!promiscuous) text += " and ether dst " + mac;
  return text;
}

using Clock = std::chrono::steady_clock;

class WpcapLink final : public Link {
 public:
  WpcapLink(const CaptureApi& api, wpcap::Handle* handle, EthernetAddress address,
            bool promiscuous)
      : api_(api),
        handle_(handle),
        event_(api.getEvent != nullptr ? api.getEvent(handle) : nullptr),
        address_(address),
        promiscuous_(promiscuous) {}
  ~WpcapLink() override { api_.close(handle_); }
  WpcapLink(const WpcapLink&) = delete;
  WpcapLink& operator=(const WpcapLink&) = delete;

  bool Send(FrameView frame) override {
    if (frame.size() < kEthernetAddressBytes * 2 + 2 || frame.size() > kLargestH1Frame) {
      return false;
    }
    return api_.sendPacket(handle_, frame.data(), static_cast<int>(frame.size())) == 0;
  }

  // The deadline is taken once: frames that are not ours do not extend the wait.
  bool Receive(FrameBytes& frame, int64_t waitMicroseconds) override {
    const Clock::time_point until =
        Clock::now() + std::chrono::microseconds(std::max<int64_t>(waitMicroseconds, 0));
    for (;;) {
      if (TakeOne(frame)) return true;
      const int64_t left =
          std::chrono::duration_cast<std::chrono::microseconds>(until - Clock::now()).count();
      if (left <= 0) return false;
      // The event and the read time-out count whole milliseconds: the rest of a millisecond is
      // waited out by yielding, so that the wait stays within what was asked.
      if (left < 1'000) {
        SwitchToThread();
      } else if (event_ != nullptr) {
        WaitForSingleObject(event_, static_cast<DWORD>(left / 1'000));
      } else {
        Sleep(1);
      }
    }
  }

  EthernetAddress Address() const override { return address_; }

 private:
  // One waiting H1 frame for this adapter, skipping any other; the DLL is never asked to wait.
  // Two threads may receive at once: the DLL's buffer is read by one at a time.
  bool TakeOne(FrameBytes& frame) {
    const std::lock_guard lock(reading_);
    for (;;) {
      wpcap::PacketHeader* header = nullptr;
      const uint8_t* data = nullptr;
      if (api_.nextEx(handle_, &header, &data) != 1 || header == nullptr) return false;
      if (header->capturedBytes != header->frameBytes || header->capturedBytes > kLargestH1Frame) {
        continue;
      }
      const FrameView view(data, header->capturedBytes);
      if (!IsH1Frame(view) || std::equal(address_.begin(), address_.end(), view.begin() + 6)) {
        continue;
      }
      if (!promiscuous_ && !std::equal(address_.begin(), address_.end(), view.begin())) continue;
      frame.assign(view.begin(), view.end());
      return true;
    }
  }

  const CaptureApi& api_;
  wpcap::Handle* handle_;
  HANDLE event_;
  EthernetAddress address_;
  bool promiscuous_;
  std::mutex reading_;
};

LinkOpening Failed(LinkFailure failure, std::string detail = {}) {
  LinkOpening opening;
  opening.failure = failure;
  opening.detail = std::move(detail);
  return opening;
}

}  // namespace

// The loader's own answer (ntdll's RtlDllShutdownInProgress): true while the libraries'
// destructors run because the process ends, false when a library is merely unloaded.
bool HostProcessEnding() {
  using ShutdownInProgress = BOOLEAN(WINAPI*)();
  static const auto inProgress = reinterpret_cast<ShutdownInProgress>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlDllShutdownInProgress")));
  return inProgress != nullptr && inProgress() != FALSE;
}

LinkOpening OpenPacketLink(const std::string& interfaceName, const PacketLinkOptions& options) {
  if (interfaceName.empty()) return Failed(LinkFailure::kNoInterfaceNamed);
  const CaptureApi* api = Api();
  if (api == nullptr) return Failed(LinkFailure::kNoCaptureLibrary);
  if (!api->missing.empty()) return Failed(LinkFailure::kOther, "wpcap.dll has no " + api->missing);
  const std::vector<Adapter> adapters = Adapters();
  const auto adapter = std::ranges::find_if(
      adapters, [&interfaceName](const Adapter& entry) { return Names(entry, interfaceName); });
  if (adapter == adapters.end()) return Failed(LinkFailure::kNoSuchInterface, ListOf(adapters));

  char error[wpcap::kErrorBytes] = {};
  wpcap::Handle* handle = api->create(adapter->device.c_str(), error);
  if (handle == nullptr) return Failed(LinkFailure::kOther, error);
  const auto fail = [api, handle](LinkFailure failure) {
    std::string detail = api->getError(handle);
    api->close(handle);
    return Failed(failure, std::move(detail));
  };
  api->setSnapshotLength(handle, kSnapshotBytes);
  api->setPromiscuous(handle, options.promiscuous ? 1 : 0);
  api->setTimeout(handle, kReadTimeoutMilliseconds);
  if (api->setImmediateMode != nullptr) api->setImmediateMode(handle, 1);
  if (const int activated = api->activate(handle); activated < 0) {
    return fail(activated == kActivateNoPermission ? LinkFailure::kNoPermission
                                                   : LinkFailure::kOther);
  }
  if (api->setImmediateMode == nullptr && api->setMinToCopy != nullptr) {
    api->setMinToCopy(handle, 0);
  }
  wpcap::FilterProgram program{};
  const std::string filter = FilterText(adapter->address, options.promiscuous);
  if (api->compile(handle, &program, filter.c_str(), 1, wpcap::kNetmaskUnknown) != 0) {
    return fail(LinkFailure::kOther);
  }
  const int filtered = api->setFilter(handle, &program);
  api->freeCode(&program);
  if (filtered != 0) return fail(LinkFailure::kOther);
  if (api->setNonBlock(handle, 1, error) != 0) return fail(LinkFailure::kOther);
  LinkOpening opening;
  opening.link = std::make_unique<WpcapLink>(*api, handle, adapter->address, options.promiscuous);
  return opening;
}

std::string DescribeLinkFailure(const LinkOpening& opening, const std::string& interfaceName) {
  switch (opening.failure) {
    case LinkFailure::kNone:
      break;
    case LinkFailure::kNoInterfaceNamed:
      return "no network adapter: set TAV_H1_INTERFACE to the adapter of the H1 network (its "
             "name as the network settings show it, its \\Device\\NPF_{...} name or its MAC "
             "address)";
    case LinkFailure::kNoPermission:
      return "no right to capture on network adapter " + interfaceName +
             ": Npcap admits administrators only; run the HMI host as administrator, or "
             "install Npcap again without restricting it to administrators";
    case LinkFailure::kNoSuchInterface:
      return "network adapter '" + interfaceName + "' (TAV_H1_INTERFACE) not found; adapters: " +
             opening.detail;
    case LinkFailure::kNoCaptureLibrary:
      return "Npcap is not installed (no wpcap.dll could be loaded): install Npcap from "
             "https://npcap.com, then start the host again";
    case LinkFailure::kOther:
      return "cannot open network adapter " + interfaceName + ": " + opening.detail;
  }
  return "network adapter " + interfaceName + " open";
}

}  // namespace tav::h1eth
