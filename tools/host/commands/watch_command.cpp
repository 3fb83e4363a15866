// tavhost watch: polls tags as a host does, one request at a time, cycle after cycle. On a
// terminal a table of the tags updates in place; otherwise (a pipe, a file) every read is one
// plain line, or one JSON document. Ctrl-C ends the watch cleanly with a summary, and so does
// reaching --count cycles.
#include <fmt/core.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "cli/output.h"
#include "cli/terminal.h"
#include "commands/command_line.h"
#include "commands/commands.h"
#include "stations/recovery.h"
#include "tags/tag.h"
#include "tags/values.h"

namespace tavhost {

namespace {

using Clock = std::chrono::steady_clock;

// Sleeping checks for Ctrl-C this often.
constexpr auto kSleepSlice = std::chrono::milliseconds(20);
// A value wider than this is cut in the table.
constexpr size_t kValueColumn = 32;

struct Watched {
  Tag tag;
  StationState station = StationState::kUnknown;  // the tag's station, after the last cycle
  std::vector<uint8_t> values;
  bool read = false;  // a read has succeeded once
  int32_t result = 0;
  bool changed = false;  // in the last cycle
  bool news = false;     // the last cycle changed its value or its result, or was the first
  std::string lastChange = "-";
  int64_t polls = 0;  // cycles that looked at the tag, read or skipped while its station is down
  int64_t reads = 0;
  int64_t failures = 0;
};

struct WatchState {
  std::vector<Watched> tags;
  int64_t cycles = 0;
  Clock::time_point start = Clock::now();
  size_t linesDrawn = 0;
  ValueView view;
  bool changesOnly = false;  // lines and documents only for tags with news

  double Seconds() const { return std::chrono::duration<double>(Clock::now() - start).count(); }
  double PerSecond(int64_t count) const {
    const double seconds = Seconds();
    return seconds > 0 ? static_cast<double>(count) / seconds : 0.0;
  }
  int64_t Requests() const {
    int64_t total = 0;
    for (const Watched& w : tags) total += w.reads;
    return total;
  }
  int64_t Failures() const {
    int64_t total = 0;
    for (const Watched& w : tags) total += w.failures;
    return total;
  }
};

// Reads the tag, unless its station is down and not yet due for a reconnect: the tag then shows
// the result a read would give (2, no connection) and is not counted as read.
void Poll(StationRecovery& recovery, Watched& watched) {
  constexpr int32_t kNoConnection = 2;
  std::vector<uint8_t> values;
  const int32_t previousResult = watched.result;
  const bool first = watched.polls++ == 0;
  const std::optional<int32_t> result = recovery.Read(watched.tag, values);
  watched.station = recovery.health().State(watched.tag.parsed.plcNumber);
  watched.news = first || result.value_or(kNoConnection) != previousResult;
  watched.changed = false;
  if (!result) {
    watched.result = kNoConnection;
    return;
  }
  watched.result = *result;
  ++watched.reads;
  if (watched.result != 0) {
    ++watched.failures;
    return;
  }
  watched.news = watched.news || !watched.read || values != watched.values;
  if (!watched.read || values != watched.values) {
    watched.changed = true;
    watched.lastChange = TimeStamp().substr(11);  // the time of day
    watched.values = std::move(values);
  }
  watched.read = true;
}

std::string ValueText(const Watched& watched, const ValueView& view) {
  return watched.read ? FormatValues(watched.tag, watched.values, view) : "-";
}

bool Shown(const WatchState& state, const Watched& watched) {
  return !state.changesOnly || watched.news;
}

// A CSV field: quoted, its quotes doubled, when it holds a separator, a quote or a line end.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

constexpr std::string_view kCsvHeader = "time,cycle,address,value,result,failures";

void PrintCsv(const WatchState& state) {
  const std::string time = TimeStamp();
  for (const Watched& w : state.tags) {
    if (!Shown(state, w)) continue;
    fmt::print("{},{},{},{},{},{}\n", time, state.cycles, CsvField(w.tag.address),
               w.result == 0 ? CsvField(ValueText(w, state.view)) : "", w.result, w.failures);
  }
  std::fflush(stdout);
}

std::string Cut(std::string text, size_t width) {
  if (text.size() > width) text = text.substr(0, width - 3) + "...";
  return text;
}

// The table, drawn over the previous one: the cursor goes back up to its first line and every
// line is cleared to its end.
void DrawTable(WatchState& state, const std::string& lastLog, const std::string& lastEvent) {
  std::string out;
  if (state.linesDrawn > 0) out += fmt::format("\x1b[{}A", state.linesDrawn);
  std::vector<std::string> lines;
  lines.push_back(fmt::format("cycle {}, {:.1f} s, {:.1f} requests/s, {} failures (Ctrl-C ends)",
                              state.cycles, state.Seconds(), state.PerSecond(state.Requests()),
                              state.Failures()));
  lines.push_back(fmt::format("{:<14} {:<{}} {:<13} {:>6} {:>8} {:>7} {}", "tag", "value",
                              kValueColumn, "last change", "result", "failures", "req/s",
                              "station"));
  for (const Watched& w : state.tags) {
    lines.push_back(fmt::format("{:<14} {:<{}} {:<13} {:>6} {:>8} {:>7.1f} {}", w.tag.address,
                                Cut(ValueText(w, state.view), kValueColumn), kValueColumn,
                                w.lastChange, w.result, w.failures, state.PerSecond(w.reads),
                                StationStateName(w.station)));
  }
  lines.push_back(lastLog.empty() ? std::string() : "last log: " + lastLog);
  lines.push_back(lastEvent.empty() ? std::string() : "last event: " + lastEvent);
  for (const std::string& line : lines) out += line + "\x1b[K\n";
  state.linesDrawn = lines.size();
  fmt::print("{}", out);
  std::fflush(stdout);
}

void PrintLines(const WatchState& state) {
  const std::string time = TimeStamp().substr(11);
  for (const Watched& w : state.tags) {
    if (!Shown(state, w)) continue;
    fmt::print("{} cycle {} {} {} result {} failures {} station {}\n", time, state.cycles,
               w.tag.address, w.result == 0 ? ValueText(w, state.view) : "-", w.result, w.failures,
               StationStateName(w.station));
  }
  std::fflush(stdout);
}

void EmitDocuments(const WatchState& state) {
  for (const Watched& w : state.tags) {
    if (!Shown(state, w)) continue;
    Json document = {{"command", "watch"},       {"cycle", state.cycles},
                     {"address", w.tag.address}, {"kind", KindName(w.tag.kind)},
                     {"result", w.result},       {"changed", w.changed},
                     {"failures", w.failures},   {"station", StationStateName(w.station)}};
    if (w.result == 0) document["values"] = ValuesToJson(w.tag, w.values);
    EmitDocument(std::move(document));
  }
}

void Summarise(const WatchState& state, bool interrupted) {
  const double seconds = state.Seconds();
  if (JsonOutput()) {
    EmitDocument({{"command", "watch"},
                  {"summary",
                   {{"cycles", state.cycles},
                    {"requests", state.Requests()},
                    {"failures", state.Failures()},
                    {"seconds", seconds},
                    {"requestsPerSecond", state.PerSecond(state.Requests())},
                    {"interrupted", interrupted}}}});
    return;
  }
  fmt::print("watch {}: {} cycles, {} requests in {:.1f} s ({:.1f} requests/s), {} failures\n",
             interrupted ? "interrupted" : "done", state.cycles, state.Requests(), seconds,
             state.PerSecond(state.Requests()), state.Failures());
}

// Waits `interval`, or less when Ctrl-C comes.
void Pause(std::chrono::milliseconds interval) {
  const auto until = Clock::now() + interval;
  while (!Interrupted() && Clock::now() < until) {
    std::this_thread::sleep_for(std::min<Clock::duration>(kSleepSlice, until - Clock::now()));
  }
}

}  // namespace

void AddWatchCommand(CLI::App& app, Host& host, int& exitCode) {
  struct Options {
    StationOptions stations;
    std::vector<std::string> addresses;
    std::optional<int32_t> hostDataType;
    ValueView view;
    int64_t interval = 1000;
    int64_t cycles = 0;
    bool csv = false;
    bool changesOnly = false;
  };
  auto options = std::make_shared<Options>();
  CLI::App* watch =
      app.add_subcommand("watch", "Poll tags as a host does and show their values as they change");
  watch->add_option("addresses", options->addresses, "Tag addresses, e.g. 01DF0100010")->required();
  watch->add_option("--interval", options->interval, "Milliseconds from one cycle to the next")
      ->capture_default_str()
      ->check(CLI::Range(int64_t{0}, int64_t{86'400'000}));
  watch->add_option("--count", options->cycles, "Stop after this many cycles (0: at Ctrl-C)")
      ->capture_default_str()
      ->check(CLI::NonNegativeNumber);
  watch
      ->add_option("--type", options->hostDataType,
                   "Host data type of every tag (default: from each address)")
      ->transform(HostDataTypeNames())
      ->check(HostDataTypeCheck());
  watch->add_flag("--csv", options->csv,
                  "One CSV line per tag and cycle, with a time stamp (after a header line)");
  watch->add_flag("--changes-only", options->changesOnly,
                  "Lines and JSON documents only for a tag whose value or result changed");
  AddValueViewOptions(*watch, options->view);
  AddStationOptions(*watch, options->stations);
  watch->callback([&host, &exitCode, options] {
    if (!InitialiseQuietly(host, options->stations, "watch", exitCode)) return;
    WatchState state;
    for (const std::string& address : options->addresses) {
      std::optional<Tag> tag =
          PrepareTag(host, "watch", address, options->hostDataType, 1, exitCode);
      if (!tag) return;
      Watched watched;
      watched.tag = std::move(*tag);
      state.tags.push_back(std::move(watched));
    }

    state.view = options->view;
    state.changesOnly = options->changesOnly;
    const bool csv = options->csv && !JsonOutput();
    const bool table = !JsonOutput() && !csv && PrepareTerminal();
    if (csv) fmt::print("{}\n", kCsvHeader);
    // A table on the terminal shows the newest log line and the newest change of a station's
    // state itself; anything else keeps both on standard error.
    if (table) EchoDriverLog(false);
    std::string lastEvent;
    StationRecovery recovery(host, "watch",
                             table ? StationRecovery::Say([&lastEvent](std::string_view line) {
                               lastEvent = fmt::format("{} {}", TimeStamp().substr(11), line);
                             })
                                   : StationRecovery::Say());
    CatchInterrupt();
    state.start = Clock::now();
    while (!Interrupted()) {
      for (Watched& w : state.tags) Poll(recovery, w);
      ++state.cycles;
      if (table) {
        DrawTable(state, LastDriverLog(), lastEvent);
      } else if (JsonOutput()) {
        EmitDocuments(state);
      } else if (csv) {
        PrintCsv(state);
      } else {
        PrintLines(state);
      }
      if (options->cycles > 0 && state.cycles >= options->cycles) break;
      Pause(std::chrono::milliseconds(options->interval));
    }
    const bool interrupted = Interrupted();
    ReleaseInterrupt();
    EchoDriverLog(true);
    host.driver().Run(&host.instance(), tav::CommandCode::kCloseH1, nullptr);
    Summarise(state, interrupted);
    const bool lastCycleFailed = std::any_of(state.tags.begin(), state.tags.end(),
                                             [](const Watched& w) { return w.result != 0; });
    exitCode = lastCycleFailed ? kExitRefused : kExitDone;
  });
}

}  // namespace tavhost
