// tavhost serial: the driver's serial channel. `open` stores the port's settings in the
// DriverInstance, as the host does, and opens it (command 13); `config` passes them in
// PortParameters (command 15); `close` closes it (command 12). Actions chain in one run, in the
// order given (`serial config --port COM1 close`); after each, tavhost shows what the driver
// stored and how the device then runs.
#include <fmt/core.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>

#include "abi/port_parameters.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "runtime/device_line.h"
#include "runtime/host.h"
#include "vocabulary/line_flags.h"

namespace tavhost {

namespace {

struct Named {
  std::string_view name;
  uint16_t code;
};

// PortParameters' parity and stop-bit codes.
constexpr Named kParities[] = {{"none", 0}, {"odd", 1}, {"even", 2}, {"mark", 3}, {"space", 4}};
constexpr Named kStopBits[] = {{"1", 0}, {"1.5", 1}, {"2", 2}};

constexpr size_t kPortNameSize = sizeof(tav::PortParameters::portName);
constexpr int64_t kLastBaudRate = std::numeric_limits<uint16_t>::max();
constexpr int32_t kOpenReadTimeoutMs = 1000;
constexpr int32_t kMsPerTimeoutUnit = 10;
// The longest read time-out whose milliseconds still fit a signed 32-bit count.
constexpr int32_t kLastTimeout = std::numeric_limits<int32_t>::max() / kMsPerTimeoutUnit;
// 1.5 stop bits frame only 5-bit characters; a UART takes 2 for longer ones.
constexpr int32_t kDataBitsOfOneAndAHalfStopBits = 5;

template <size_t N>
uint16_t CodeOf(const Named (&table)[N], const std::string& name) {
  for (const Named& entry : table) {
    if (entry.name == name) return entry.code;
  }
  return 0;
}

template <size_t N>
std::string NameOf(const Named (&table)[N], uint16_t code) {
  for (const Named& entry : table) {
    if (entry.code == code) return std::string(entry.name);
  }
  return fmt::format("code {}", code);
}

template <size_t N>
std::vector<std::string> Names(const Named (&table)[N]) {
  std::vector<std::string> names;
  for (const Named& entry : table) names.emplace_back(entry.name);
  return names;
}

// DTR and RTS modes by name, as the driver's rules give them (vocabulary/line_flags.h).
template <size_t N>
std::string ModeOf(const std::array<tav::LineModeRule, N>& rules, uint16_t lineFlags) {
  return std::string(tav::RuleFor(rules, lineFlags).name);
}

template <size_t N>
uint16_t RequestOf(const std::array<tav::LineModeRule, N>& rules, const std::string& name) {
  for (const tav::LineModeRule& rule : rules) {
    if (rule.name == name) return rule.request;
  }
  return 0;
}

template <size_t N>
std::vector<std::string> ModeNames(const std::array<tav::LineModeRule, N>& rules) {
  std::vector<std::string> names;
  for (const tav::LineModeRule& rule : rules) names.emplace_back(rule.name);
  return names;
}

struct PortOptions {
  std::string port;
  int64_t baudRate = 9600;
  int32_t dataBits = 8;
  std::string parity = "none";
  std::string stopBits = "1";
  std::string dtr = "off";
  std::string rts = "off";
  int32_t timeout = 100;  // config: read time-out in 10 ms units

  uint16_t LineFlags() const {
    return static_cast<uint16_t>(RequestOf(tav::kDtrRules, dtr) | RequestOf(tav::kRtsRules, rts));
  }
  tav::LineSettings Line() const {
    return {static_cast<uint16_t>(baudRate), static_cast<uint16_t>(dataBits),
            CodeOf(kStopBits, stopBits), CodeOf(kParities, parity)};
  }
};

void AddPortOptions(CLI::App& command, PortOptions& options) {
  command.add_option("--port", options.port, "Port name: COM1, NUL, /dev/ttyUSB0, /dev/pts/3")
      ->required()
      ->check(CLI::Validator(
          [](std::string& name) -> std::string {
            if (name.empty() || name.size() > kPortNameSize) {
              return fmt::format(
                  "'{}': a port name has 1 to {} characters (a longer device "
                  "path fits through a symbolic link)",
                  name, kPortNameSize);
            }
            return "";
          },
          "NAME", "port name"));
  command.add_option("--baud", options.baudRate, "Baud rate")
      ->capture_default_str()
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            int64_t rate = 0;
            if (!CLI::detail::lexical_cast(text, rate) || rate < 1 || rate > kLastBaudRate) {
              return fmt::format("{}: the driver's baud-rate field holds 1 to 65535", text);
            }
            return "";
          },
          "1..65535", "baud rate"));
  command.add_option("--data-bits", options.dataBits, "Data bits")
      ->capture_default_str()
      ->check(CLI::Range(5, 8));
  command.add_option("--parity", options.parity, "Parity")
      ->capture_default_str()
      ->check(CLI::IsMember(Names(kParities)));
  command.add_option("--stop-bits", options.stopBits, "Stop bits")
      ->capture_default_str()
      ->check(CLI::IsMember(Names(kStopBits)));
  command.add_option("--dtr", options.dtr, "DTR: off, on or handshake")
      ->capture_default_str()
      ->check(CLI::IsMember(ModeNames(tav::kDtrRules)));
  command.add_option("--rts", options.rts, "RTS: off, on, handshake or toggle")
      ->capture_default_str()
      ->check(CLI::IsMember(ModeNames(tav::kRtsRules)));
}

std::string PortName(const tav::DriverInstance& instance) {
  return std::string(instance.portName, strnlen(instance.portName, kPortNameSize));
}

// What the instance holds after an action, and the device's own view of its line.
Json PortJson(const tav::DriverInstance& instance, int32_t readTimeoutMs) {
  const tav::LineSettings& line = instance.lineSettings;
  Json port = {{"name", PortName(instance)},
               {"open", instance.portHandle != 0},
               {"baudRate", line.baudRate},
               {"dataBits", line.dataBits},
               {"parity", NameOf(kParities, line.parity)},
               {"stopBits", NameOf(kStopBits, line.stopBits)},
               {"dtr", ModeOf(tav::kDtrRules, instance.lineFlags)},
               {"rts", ModeOf(tav::kRtsRules, instance.lineFlags)},
               {"readTimeoutMs", readTimeoutMs}};
  Json device = nullptr;
  if (const std::optional<DeviceLine> d = ReadDeviceLine(instance.portHandle)) {
    device = {{"baudRate", d->baudRate},
              {"dataBits", d->dataBits},
              {"parity", NameOf(kParities, d->parity)},
              {"stopBits", NameOf(kStopBits, d->stopBits)},
              {"ctsFlowControl", d->ctsFlow},
              {"dtr", d->dtr ? Json(*d->dtr) : Json()},
              {"rts", d->rts ? Json(*d->rts) : Json()}};
  }
  return {{"port", port}, {"device", device}};
}

std::string LineText(const Json& line) {
  const std::string parity = line["parity"].get<std::string>();
  const std::string stopBits = line["stopBits"].get<std::string>();
  return fmt::format("{} baud, {} data bits, {} parity, {} stop bit{}",
                     line["baudRate"].get<uint32_t>(), line["dataBits"].get<int>(),
                     parity == "none" ? "no" : parity, stopBits, stopBits == "1" ? "" : "s");
}

std::string LevelText(const Json& level) {
  return level.is_null() ? "-" : level.get<bool>() ? "on" : "off";
}

void PrintPort(const Json& state) {
  const Json& port = state["port"];
  fmt::print("  {:<8} {}, {}\n", "port", port["name"].get<std::string>(),
             port["open"].get<bool>() ? "open" : "closed");
  if (!port["open"].get<bool>()) return;
  fmt::print("  {:<8} {}; DTR {}, RTS {}; read time-out {} ms\n", "stored", LineText(port),
             port["dtr"].get<std::string>(), port["rts"].get<std::string>(),
             port["readTimeoutMs"].get<int32_t>());
  const Json& device = state["device"];
  if (device.is_null()) {
    fmt::print("  {:<8} no terminal: no line to show\n", "device");
    return;
  }
  fmt::print("  {:<8} {}{}; DTR {}, RTS {}{}\n", "device", LineText(device),
             device["ctsFlowControl"].get<bool>() ? ", CTS flow control" : "",
             LevelText(device["dtr"]), LevelText(device["rts"]),
             device["dtr"].is_null() ? " (no modem lines)" : "");
}

enum class Action : uint8_t { kOpen, kConfig, kClose };

struct SerialRun {
  std::vector<Action> actions;  // in the order given
  PortOptions open;
  PortOptions config;
};

int32_t RunAction(Host& host, Action action, const SerialRun& run, int32_t& readTimeoutMs) {
  tav::DriverInstance& instance = host.instance();
  switch (action) {
    case Action::kOpen: {
      // The host fills the instance's port fields; command 13 opens with them.
      std::memset(instance.portName, 0, kPortNameSize);
      std::memcpy(instance.portName, run.open.port.data(), run.open.port.size());
      instance.lineSettings = run.open.Line();
      instance.lineFlags = run.open.LineFlags();
      readTimeoutMs = kOpenReadTimeoutMs;
      return host.driver().Run(&instance, tav::CommandCode::kOpenSerialPort, nullptr);
    }
    case Action::kConfig: {
      tav::PortParameters parameters{};
      std::memcpy(parameters.portName, run.config.port.data(), run.config.port.size());
      parameters.timeout = run.config.timeout;
      const tav::LineSettings line = run.config.Line();
      parameters.baudRate = line.baudRate;
      parameters.dataBits = line.dataBits;
      parameters.stopBits = line.stopBits;
      parameters.parity = line.parity;
      instance.lineFlags = run.config.LineFlags();
      const int32_t result =
          host.driver().Run(&instance, tav::CommandCode::kConfigureSerialPort, &parameters);
      // The budget may come from elsewhere than --timeout: keep its milliseconds in range.
      readTimeoutMs = static_cast<int32_t>(std::min<int64_t>(
          int64_t{instance.retryBudget} * kMsPerTimeoutUnit, std::numeric_limits<int32_t>::max()));
      return result;
    }
    case Action::kClose:
      break;
  }
  return host.driver().Run(&instance, tav::CommandCode::kCloseSerialPort, nullptr);
}

constexpr std::string_view kActionNames[] = {"open", "config", "close"};

// What a UART cannot frame among the settings an action passes; none when they fit.
std::optional<std::string> LineProblem(const SerialRun& run, Action action) {
  if (action == Action::kClose) return std::nullopt;
  const PortOptions& options = action == Action::kOpen ? run.open : run.config;
  if (options.stopBits == "1.5" && options.dataBits != kDataBitsOfOneAndAHalfStopBits) {
    return fmt::format("--stop-bits 1.5 goes with {} data bits only, not {} (use 1 or 2)",
                       kDataBitsOfOneAndAHalfStopBits, options.dataBits);
  }
  return std::nullopt;
}

// The read time-out in 10 ms units: 0 keeps the instance's budget.
std::string TimeoutProblem(const std::string& text) {
  int64_t units = 0;
  if (!CLI::detail::lexical_cast(text, units)) {
    return fmt::format("'{}': the read time-out is a whole number of 10 ms units", text);
  }
  if (units < 0 || units > kLastTimeout) {
    return fmt::format(
        "{}: the read time-out counts 10 ms units from 0 to {} (its milliseconds fit 32 bits)",
        text, kLastTimeout);
  }
  return "";
}

void Perform(Host& host, const SerialRun& run, int& exitCode) {
  exitCode = kExitDone;
  for (const Action action : run.actions) {
    if (const std::optional<std::string> problem = LineProblem(run, action)) {
      ReportError(fmt::format("serial {}", kActionNames[static_cast<size_t>(action)]), *problem);
      exitCode = kExitUsage;
      return;
    }
  }
  int32_t readTimeoutMs = 0;
  for (const Action action : run.actions) {
    const std::string command = fmt::format("serial {}", kActionNames[static_cast<size_t>(action)]);
    const bool wasOpen = host.instance().portHandle != 0;
    const int32_t result = RunAction(host, action, run, readTimeoutMs);
    Json document = {{"command", command}, {"result", result}};
    document.update(PortJson(host.instance(), readTimeoutMs));
    if (result != 0) {
      const std::string& name = action == Action::kOpen ? run.open.port : run.config.port;
      ReportError(command,
                  action == Action::kClose
                      ? fmt::format("the port did not close (result {})", result)
                      : fmt::format("{}: the port did not open (result {}): {}", name, result,
                                    WhyPortDidNotOpen(name)),
                  std::move(document));
      exitCode = kExitRefused;
      return;
    }
    if (JsonOutput()) {
      EmitDocument(std::move(document));
      continue;
    }
    if (action == Action::kClose && !wasOpen) {
      fmt::print("{}: result 0 (no port was open)\n", command);
      continue;
    }
    fmt::print("{}: result 0\n", command);
    PrintPort(document);
  }
}

}  // namespace

void AddSerialCommand(CLI::App& app, Host& host, int& exitCode) {
  auto run = std::make_shared<SerialRun>();
  CLI::App* serial = app.add_subcommand(
      "serial", "The driver's serial channel: open (13), config (15), close (12); they chain");
  serial->require_subcommand(1, 0);
  CLI::App* open = serial->add_subcommand(
      "open", "Store the port settings in the instance and open the port (command 13)");
  AddPortOptions(*open, run->open);
  CLI::App* config = serial->add_subcommand(
      "config", "Pass the port settings to the driver, which stores them and opens (command 15)");
  AddPortOptions(*config, run->config);
  config
      ->add_option("--timeout", run->config.timeout,
                   "Read time-out in 10 ms units (0 keeps the instance's retry budget)")
      ->capture_default_str()
      ->check(CLI::Validator(TimeoutProblem, "0..214748364", "read time-out"));
  CLI::App* close =
      serial->add_subcommand("close", "Close the port the instance holds (command 12)");
  const std::pair<CLI::App*, Action> actions[] = {
      {open, Action::kOpen}, {config, Action::kConfig}, {close, Action::kClose}};
  for (const auto& [subcommand, action] : actions) {
    subcommand->parse_complete_callback([run, action = action] { run->actions.push_back(action); });
  }
  serial->callback([&host, &exitCode, run] { Perform(host, *run, exitCode); });
}

}  // namespace tavhost
