#include "driver/tav_main.h"

#include "driver/command_table.h"

extern "C" int32_t TavMain(tav::Request* request) {
  if (request == nullptr) return tav::kNoHandler;
  const tav::CommandHandler handler = tav::FindHandler(request->command);
  if (handler == nullptr) return tav::kNoHandler;
  return handler(*request);
}
