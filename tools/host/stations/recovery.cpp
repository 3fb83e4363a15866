#include "stations/recovery.h"

#include <fmt/core.h>

#include <charconv>
#include <cstdio>

#include "abi/records.h"
#include "cli/output.h"
#include "runtime/simulation_control.h"
#include "tags/status_words.h"
#include "vocabulary/h1_results.h"

namespace tavhost {

namespace {

// libh1tcp's log lines start so; the driver's own with "TavSH1: ".
constexpr std::string_view kH1TcpPrefix = "H1TCP: ";
// A transfer result that means the station could not be reached.
constexpr int32_t kNoConnection = 2;
// A transfer result that means the driver refused it or the exchange failed.
constexpr int32_t kRefusedOrFailed = 1;

// The station number after "Plc #" in one of the driver's connection lines; none without one.
std::optional<int> StationOfLine(std::string_view line) {
  constexpr std::string_view kMarker = "Plc #";
  const size_t at = line.find(kMarker);
  if (at == std::string_view::npos) return std::nullopt;
  const char* digits = line.data() + at + kMarker.size();
  int station = 0;
  const auto [end, error] = std::from_chars(digits, line.data() + line.size(), station);
  if (error != std::errc() || end == digits) return std::nullopt;
  return station;
}

bool IsMapLine(std::string_view line) {
  return line.find(" skipped: ") != std::string_view::npos ||
         line.find("station map") != std::string_view::npos;
}

// A reason in words from what was logged: libh1tcp's line says why a connection failed; the
// driver's only that it did.
std::string ReasonFrom(std::string_view h1Line, std::string_view driverLine,
                       std::string_view fallback) {
  if (!h1Line.empty()) return std::string(h1Line.substr(kH1TcpPrefix.size()));
  if (!driverLine.empty())
    return fmt::format("{} (the driver logged \"{}\")", fallback, driverLine);
  return std::string(fallback);
}

}  // namespace

StationRecovery::StationRecovery(Host& host, std::string command, Say say, Backoff backoff)
    : host_(host),
      command_(std::move(command)),
      health_(
          [this](int station) { Reconnect(station); },
          say ? std::move(say) : Say([this](std::string_view line) { SayOnStandardError(line); }),
          std::chrono::steady_clock::now, backoff) {
  ObserveDriverLog([this](std::string_view line) {
    if (line.starts_with(kH1TcpPrefix)) {
      if (!IsMapLine(line)) newestH1Line_ = line;
    } else {
      newestDriverLine_ = line;
    }
  });
}

StationRecovery::~StationRecovery() {
  ObserveDriverLog(nullptr);
}

void StationRecovery::SayOnStandardError(std::string_view line) const {
  std::fflush(stdout);  // the results so far come first
  fmt::print(stderr, "tavhost {}: {}\n", command_, line);
  std::fflush(stderr);
}

void StationRecovery::Reconnect(int station) {
  tav::ReconnectBlock block{station};
  host_.driver().Run(&host_.instance(), tav::CommandCode::kReconnect, &block, host_.driverNumber());
}

template <typename Transfer>
std::optional<int32_t> StationRecovery::Run(const Tag& tag, Transfer transfer) {
  RefreshSimulation();
  const int station = tag.parsed.plcNumber;
  newestH1Line_.clear();
  newestDriverLine_.clear();
  if (!health_.BeforeTransfer(station)) return std::nullopt;
  lastTransfer_ = transfer();
  const int32_t result = lastTransfer_.result;
  // The driver gives result 1 for an exchange on a connection that broke; the library's result
  // in its log line tells it from a station's refusal, so the station is down at once.
  const std::optional<ExchangeOutcome>& outcome = lastTransfer_.exchange;
  const bool broken =
      result == kRefusedOrFailed && outcome && outcome->libraryResult == tav::h1::kConnectionBroken;
  const bool noConnection = result == kNoConnection || broken;
  std::string reason;
  if (broken) {
    reason = ReasonFrom(newestH1Line_, "", ExchangeOutcomeMeaning(*outcome));
  } else if (noConnection) {
    const std::optional<std::string> simulated =
        station >= 0 && station < tav::kStationCount
            ? SimulatedStationProblem(host_.instance().plcTable[station])
            : std::nullopt;
    reason = simulated ? *simulated
                       : ReasonFrom(newestH1Line_, newestDriverLine_,
                                    fmt::format("no connection, or no answer within {}",
                                                TimeoutText(host_.timeout())));
  }
  health_.AfterTransfer(station, noConnection, reason);
  return result;
}

std::optional<int32_t> StationRecovery::Read(const Tag& tag, std::vector<uint8_t>& values) {
  return Run(tag, [&] { return ReadTag(host_, tag, values); });
}

std::optional<int32_t> StationRecovery::Write(const Tag& tag, std::vector<uint8_t>& values) {
  return Run(tag, [&] { return WriteTag(host_, tag, values); });
}

std::string TransferFailureText(const Host& host, const Tag& tag, const TransferResult& transfer) {
  const int32_t result = transfer.result;
  if (result == kNoConnection) {
    if (std::optional<std::string> absent = host.StationAbsentFromMap(tag.parsed.plcNumber)) {
      return *absent;
    }
  }
  std::string text = TransferFailureMeaning(tag, transfer);
  if (result == kNoConnection) text += ": " + TimeoutText(host.timeout());
  return text;
}

std::vector<StationStatus> StationStatuses(const tav::DriverInstance& instance,
                                           const std::vector<std::string>& initLog,
                                           int32_t timeoutMs) {
  // The driver connects the stations in ascending order and logs each one's outcome with its
  // number; libh1tcp's reason for a failed attempt comes before that line.
  std::vector<std::string> reasons(tav::kStationCount);
  std::string newestH1Line;
  for (const std::string& line : initLog) {
    if (std::string_view(line).starts_with(kH1TcpPrefix)) {
      if (!IsMapLine(line)) newestH1Line = line;
      continue;
    }
    const std::optional<int> station = StationOfLine(line);
    if (!station || *station < 0 || *station >= tav::kStationCount) continue;
    const bool failed =
        line.find("FAIL") != std::string::npos || line.find("Failed") != std::string::npos;
    if (failed && reasons[static_cast<size_t>(*station)].empty()) {
      reasons[static_cast<size_t>(*station)] = ReasonFrom(
          newestH1Line, line, fmt::format("no connection within {}", TimeoutText(timeoutMs)));
    }
    newestH1Line.clear();
  }
  std::vector<StationStatus> statuses;
  for (int n = 0; n < tav::kStationCount; ++n) {
    const tav::PlcEntry& entry = instance.plcTable[n];
    if (!tav::IsConfigured(entry)) continue;
    StationStatus status{n, entry.readConnection != 0, {}};
    if (!status.up) {
      const std::optional<std::string> simulated = SimulatedStationProblem(entry);
      status.reason = simulated ? *simulated
                      : reasons[static_cast<size_t>(n)].empty()
                          ? "the driver opened no connection to it"
                          : reasons[static_cast<size_t>(n)];
    }
    statuses.push_back(std::move(status));
  }
  return statuses;
}

}  // namespace tavhost
