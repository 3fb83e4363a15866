// tavsh1.dll loaded with LoadLibrary, TavMain looked up with GetProcAddress, as the host does. A
// bare file name is looked for in tavhost.exe's folder first; the DLLs tavsh1.dll imports from
// (the H1 driver library, KORHOST.DLL) are loaded with tavhost.exe already.
#include <windows.h>

#include <string>

#include "runtime/driver_library.h"

namespace tavhost {
namespace {

std::string LastErrorText() {
  const DWORD code = GetLastError();
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace

DriverLibrary::DriverLibrary(const std::string& path) {
  const HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    error_ = LastErrorText();
    return;
  }
  handle_ = module;
  // GetProcAddress hands out a generic function pointer; void (*)() converts to any other.
  main_ = reinterpret_cast<TavMainFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "TavMain")));
  if (main_ == nullptr) error_ = "the library exports no TavMain";
}

DriverLibrary::~DriverLibrary() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

}  // namespace tavhost
