// The H1 driver library's eleven operations as the DLL that stands for it exports them: by
// ordinal alone, each with the bytes its arguments take in a 32-bit process (the stdcall name's
// "@N"). The build reads this table (cmake/H1Operations.cmake) to write the module-definition
// file of every H1 DLL and the import library, and the lists its checks expect; keep one row a
// line, as it is.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tav {

struct H1OperationInfo {
  std::string_view name;
  uint16_t ordinal;
  uint8_t argumentBytes;
};

inline constexpr std::array<H1OperationInfo, 11> kH1Operations{{
    {"H1OpenDriver", 302, 0},
    {"H1CloseDriver", 303, 0},
    {"H1OpenS5Connection", 100, 4},
    {"H1OpenS7Connection", 164, 8},
    {"H1ConnectionState", 124, 4},
    {"H1RestartConnection", 125, 4},
    {"H1ReleaseConnection", 101, 4},
    {"H1SendReadRequest", 103, 4},
    {"H1ReceiveReadData", 104, 16},
    {"H1SendWriteRequest", 106, 8},
    {"H1ReceiveWriteAcknowledge", 107, 8},
}};

// The operations by name in code: an index into kH1Operations, for whatever keeps one thing per
// operation (faults queued on it, calls counted, a test's script).
enum class H1Operation : uint8_t {
  kOpenDriver,
  kCloseDriver,
  kOpenS5Connection,
  kOpenS7Connection,
  kConnectionState,
  kRestartConnection,
  kReleaseConnection,
  kSendReadRequest,
  kReceiveReadData,
  kSendWriteRequest,
  kReceiveWriteAcknowledge,
};
inline constexpr size_t kH1OperationCount = kH1Operations.size();

constexpr const H1OperationInfo& InfoOf(H1Operation operation) {
  return kH1Operations[static_cast<size_t>(operation)];
}
static_assert(InfoOf(H1Operation::kOpenDriver).name == "H1OpenDriver");
static_assert(InfoOf(H1Operation::kOpenS7Connection).name == "H1OpenS7Connection");
static_assert(InfoOf(H1Operation::kReceiveWriteAcknowledge).name == "H1ReceiveWriteAcknowledge");
static_assert(static_cast<size_t>(H1Operation::kReceiveWriteAcknowledge) + 1 == kH1OperationCount);

// The ordinal of the operation `name`; 0 for a name that is none.
constexpr uint16_t H1OrdinalOf(std::string_view name) {
  for (const H1OperationInfo& operation : kH1Operations) {
    if (operation.name == name) return operation.ordinal;
  }
  return 0;
}

}  // namespace tav
