#include "cli/output.h"

#include <fmt/chrono.h>
#include <fmt/core.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <memory>
#include <optional>

namespace tavhost {

namespace {

struct LogLine {
  std::string time;
  int32_t level;
  std::string text;
};

// A watch that runs for days in text mode never emits a document: keep the newest lines only.
constexpr size_t kMaxPendingLines = 1000;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

struct OutputState {
  bool json = false;
  std::unique_ptr<std::FILE, FileCloser> logFile;
  std::deque<LogLine> pending;
  std::string last;
  std::string lastText;
  uint64_t lines = 0;
  std::function<void(std::string_view)> observer;
};

OutputState& State() {
  static OutputState state;
  return state;
}

// nlohmann's dump throws on bytes that are no UTF-8 (a station's string may hold any byte):
// replace them instead.
std::string Dump(const Json& document) {
  return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json TakePendingLog() {
  Json lines = Json::array();
  for (const LogLine& line : State().pending) {
    lines.push_back({{"time", line.time}, {"level", line.level}, {"text", line.text}});
  }
  State().pending.clear();
  return lines;
}

}  // namespace

bool ConfigureOutput(bool json, const std::string& logFile, std::string& error) {
  OutputState& state = State();
  state.json = json;
  if (logFile.empty()) return true;
  state.logFile.reset(std::fopen(logFile.c_str(), "a"));
  if (!state.logFile) {
    error = fmt::format("{}: the log file cannot be opened for writing", logFile);
    return false;
  }
  return true;
}

bool JsonOutput() {
  return State().json;
}

std::string TimeStamp() {
  const auto now = std::chrono::system_clock::now();
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return fmt::format("{:%Y-%m-%d %H:%M:%S}.{:03}",
                     fmt::localtime(std::chrono::system_clock::to_time_t(now)), milliseconds);
}

void RecordDriverLog(int32_t level, const char* text, bool echo) {
  OutputState& state = State();
  LogLine line{TimeStamp(), level, text};
  if (state.logFile) {
    fmt::print(state.logFile.get(), "{} [log {:2}] {}\n", line.time, level, line.text);
    std::fflush(state.logFile.get());
  }
  if (echo) {
    std::fflush(stdout);  // results and log lines keep their order on a terminal
    fmt::print(stderr, "[log {:2}] {}\n", level, line.text);
    // The Windows C runtime buffers stderr when it is not a console: without this, a redirected
    // run would show every log line after all the results.
    std::fflush(stderr);
  }
  if (state.observer) state.observer(line.text);
  state.last = fmt::format("{} {}", line.time.substr(11), line.text);
  state.lastText = line.text;
  ++state.lines;
  if (state.pending.size() == kMaxPendingLines) state.pending.pop_front();
  state.pending.push_back(std::move(line));
}

void ObserveDriverLog(std::function<void(std::string_view text)> observer) {
  State().observer = std::move(observer);
}

std::string LastDriverLog() {
  return State().last;
}

std::string LastDriverLogText() {
  return State().lastText;
}

uint64_t DriverLogCount() {
  return State().lines;
}

void EmitDocument(Json document) {
  document["log"] = TakePendingLog();
  fmt::print("{}\n", Dump(document));
  std::fflush(stdout);
}

void ReportError(std::string_view command, std::string_view message, Json document) {
  std::fflush(stdout);
  fmt::print(stderr, "tavhost{}{}: {}\n", command.empty() ? "" : " ", command, message);
  if (!JsonOutput()) return;
  if (!document.contains("command") && !command.empty()) document["command"] = command;
  document["error"] = message;
  EmitDocument(std::move(document));
}

std::string_view TransferResultMeaning(int32_t result) {
  switch (result) {
    case 0:
      return "done";
    case 1:
      return "the driver refused the transfer or the station answered with an error";
    case 2:
      return "no connection to the station, or no answer within the retry budget";
    default:
      return "a result the transfers do not give";
  }
}

}  // namespace tavhost
