// tavhost demo: the driver at work on the simulated stations of the example station file:
// initialisation, the station table, tags written and read back, close.
#include <fmt/core.h>

#include <chrono>

#include "sim/network.h"
#include "tag.h"

namespace tavhost {

namespace {

struct DemoWrite {
  const char* address;
  std::vector<std::string> values;
};

// A few tags of every kind on the S7 station 1, the S5 station 3 and the type-6 station 5, clear
// of the values the simulation file preset (the bit tag sets bit 3 of the preset word 0x1234).
const DemoWrite kWrites[] = {
    {"01DW0100100", {"0x1234", "0xABCD"}},
    {"01DD0100104", {"123456789"}},
    {"01DF0100108", {"3.14159"}},
    {"01SB010011210", {"HELLO S7 !"}},
    {"01DW010000003", {"1"}},
    {"01QW0020", {"0x00FF"}},
    {"03DW0100100", {"0x1234", "0xABCD"}},
    {"03DD0100102", {"123456789"}},
    {"03DF0100104", {"3.14159"}},
    {"03SB010010610", {"HELLO S5 !"}},
    {"03XW0100005", {"42"}},
    {"03MB0030", {"0x5A"}},
    {"05DF0100020", {"-0.75"}},
};

// Values that the simulation file preset, and a station that is switched off.
const char* const kReads[] = {"01DF0100010", "03DF0100010", "03SB010002012", "01IB0000",
                              "08DW0100000"};

void Heading(std::string_view text) {
  fmt::print("\n== {} ==\n", text);
}

// What the station holds where the last exchange wrote: in PLC order, as the PLC holds it.
std::string Held() {
  const tav::sim::Network& network = tav::sim::ActiveNetwork();
  if (network.exchanges().empty()) return "";
  const tav::sim::Exchange& exchange = network.exchanges().back();
  const tav::sim::Station* station = network.Find(exchange.station);
  const std::optional<tav::sim::Area> area = tav::sim::AreaOfKind(exchange.request.areaKind);
  if (station == nullptr || !area) return "";
  const tav::sim::AreaRef ref{*area, exchange.request.blockNumber};
  const auto bytes =
      station->Bytes(ref, exchange.request.start, station->TransferBytes(exchange.request));
  if (!bytes) return "";
  std::string text = tav::sim::AreaName(*area);
  if (*area == tav::sim::Area::kDataBlock || *area == tav::sim::Area::kExtendedDataBlock) {
    text += fmt::format(" {}", exchange.request.blockNumber);
  }
  text += fmt::format(" {} {}:", station->UnitBytes(ref) == 2 ? "word" : "byte",
                      exchange.request.start);
  for (uint8_t byte : *bytes) text += fmt::format(" {:02X}", byte);
  return text;
}

void ShowTags(Host& host) {
  Heading("Tags: parse (command 3), write (10, or 7 for a bit), read back (6, or 5)");
  fmt::print("{:<14} {:<22} {:<22} {}\n", "tag", "written", "read back", "the station holds");
  for (const DemoWrite& write : kWrites) {
    int32_t result = 0;
    const auto count = static_cast<int32_t>(write.values.size());
    const std::optional<Tag> tag =
        ParseTag(host, write.address, HostDataTypeOf(host, write.address), count, result);
    std::vector<uint8_t> values;
    std::string error;
    if (!tag || !ParseValues(*tag, write.values, values, error)) {
      fmt::print("{:<14} refused ({}) {}\n", write.address, result, error);
      continue;
    }
    const std::string written = FormatValues(*tag, values);
    const int32_t wrote = WriteTag(host, *tag, values);
    const std::string held = Held();
    const int32_t read = ReadTag(host, *tag, values);
    fmt::print("{:<14} {:<22} {:<22} {}\n", write.address,
               wrote == 0 ? written : fmt::format("result {}", wrote),
               read == 0 ? FormatValues(*tag, values) : fmt::format("result {}", read), held);
  }

  Heading("Reads: values the simulation file preset, and a station that is switched off");
  for (const char* address : kReads) {
    int32_t result = 0;
    const std::optional<Tag> tag =
        ParseTag(host, address, HostDataTypeOf(host, address), 1, result);
    std::vector<uint8_t> values;
    if (tag) result = ReadTag(host, *tag, values);
    fmt::print("{:<14} {}\n", address,
               result == 0 ? FormatValues(*tag, values) : fmt::format("result {}", result));
  }
}

}  // namespace

void AddDemoCommand(CLI::App& app, Host& host, int& exitCode) {
  CLI::App* demo = app.add_subcommand(
      "demo", "Run the driver on the simulated stations of examples/tavSH101.int");
  demo->callback([&host, &exitCode] {
    fmt::print("TavSH1 on the simulated H1 network, station file {}\n", kExampleStationFile);

    Heading("Initialise (command 1): the driver's log");
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = host.Initialise(kExampleStationFile, 0);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    fmt::print(
        "result {} after {} ms (stations that are switched off hold it up for their "
        "connection waits)\n",
        result, elapsed.count());

    Heading("The station table and its connections");
    PrintStationTable(host.instance());

    ShowTags(host);

    Heading("Close the H1 driver library (command 11)");
    fmt::print("result {}\n",
               host.driver().Run(&host.instance(), tav::CommandCode::kCloseH1, nullptr));
    exitCode = result == 0 ? 0 : 1;
  });
}

}  // namespace tavhost
