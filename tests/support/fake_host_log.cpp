#include "support/fake_host_log.h"

#include <cstdarg>
#include <cstdio>

#include "platform/host_log.h"

namespace tav::fake {

std::vector<LogLine>& LogLines() {
  static std::vector<LogLine> lines;
  return lines;
}

std::vector<std::string> LogTexts() {
  std::vector<std::string> texts;
  for (const LogLine& line : LogLines()) texts.push_back(line.text);
  return texts;
}

void ClearLog() {
  LogLines().clear();
}

}  // namespace tav::fake

extern "C" void err(int32_t level, const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  tav::fake::LogLines().push_back({level, format, text});
}
