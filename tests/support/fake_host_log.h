// A host log that records every message the driver sends through `err`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tav::fake {

struct LogLine {
  int32_t level;
  std::string format;  // the format exactly as passed
  std::string text;    // the format with its arguments filled in
};

std::vector<LogLine>& LogLines();
// The filled-in texts, in the order they were logged.
std::vector<std::string> LogTexts();
void ClearLog();

}  // namespace tav::fake
