// tavsh1.dll loaded with LoadLibrary by file name, as the host loads it: Windows finds it in the
// test program's folder, and with it the DLLs it imports from (the simulated network as the H1
// driver library, KORHOST.DLL), which the test program has loaded already.
#include <gtest/gtest.h>
#include <windows.h>

#include "loaded_driver.h"

namespace tav::e2e {

LoadedDriver::LoadedDriver() {
  const HMODULE module = LoadLibraryA(TAVSH1_LIBRARY_PATH);
  if (module == nullptr) {
    ADD_FAILURE() << "LoadLibrary " << TAVSH1_LIBRARY_PATH << ": error " << GetLastError();
    return;
  }
  handle_ = module;
  main_ = reinterpret_cast<TavMainFunction>(Symbol("TavMain"));
}

LoadedDriver::~LoadedDriver() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* LoadedDriver::Symbol(const char* name) const {
  // GetProcAddress hands out a generic function pointer; void (*)() converts to any other.
  const auto address =
      reinterpret_cast<void (*)()>(GetProcAddress(static_cast<HMODULE>(handle_), name));
  return reinterpret_cast<void*>(address);
}

}  // namespace tav::e2e
