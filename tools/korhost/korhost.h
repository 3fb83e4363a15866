// KORHOST.DLL as far as the driver needs it, for trying and testing tavsh1.dll without the host:
// `err`, the host log, which tavsh1.dll imports by name, formats each message and hands the line to
// the function the loading program registered (a test's recording log, tavhost's printer).
#pragma once

#include <cstdint>

#if defined(TAV_KORHOST_EXPORTS)
#define TAV_KORHOST_API __declspec(dllexport)
#else
#define TAV_KORHOST_API __declspec(dllimport)
#endif

extern "C" {

// Receives one driver message, formatted, with the level the driver gave it.
using KorHostLogSink = void (*)(int32_t level, const char* text);

// Every later message goes to `sink`; with none registered (or a null one) each message is
// written to standard error as "[log LEVEL] text".
TAV_KORHOST_API void KorHostSetLogSink(KorHostLogSink sink);

}  // extern "C"
