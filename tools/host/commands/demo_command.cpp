// tavhost demo: the driver at work on the simulated stations of the example station file:
// initialisation, the station table, tags written and read back, close.
#include <fmt/core.h>

#include <chrono>

#include "cli/output.h"
#include "commands/commands.h"
#include "sim/network.h"
#include "stations/station_table.h"
#include "tags/tag.h"
#include "tags/transfer.h"
#include "tags/values.h"

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

struct WriteRow {
  std::string address;
  std::optional<Tag> tag;
  std::string refusal;  // why the tag or its value was refused; empty otherwise
  std::vector<uint8_t> written;
  int32_t writeResult = 0;
  std::string held;
  std::vector<uint8_t> readBack;
  int32_t readResult = 0;
};

WriteRow WriteAndReadBack(Host& host, const DemoWrite& write) {
  WriteRow row;
  row.address = write.address;
  int32_t result = 0;
  const auto count = static_cast<int32_t>(write.values.size());
  row.tag = ParseTag(host, write.address, HostDataTypeOf(host, write.address), count, result);
  if (!row.tag) {
    row.refusal = fmt::format("refused ({})", result);
    return row;
  }
  if (!ParseValues(*row.tag, write.values, row.written, row.refusal)) return row;
  std::vector<uint8_t> values = row.written;
  row.writeResult = WriteTag(host, *row.tag, values).result;
  row.held = Held();
  row.readResult = ReadTag(host, *row.tag, row.readBack).result;
  return row;
}

struct ReadRow {
  std::string address;
  std::optional<Tag> tag;
  int32_t result = 0;
  std::vector<uint8_t> values;
};

ReadRow Read(Host& host, const char* address) {
  ReadRow row;
  row.address = address;
  row.tag = ParseTag(host, address, HostDataTypeOf(host, address), 1, row.result);
  if (row.tag) row.result = ReadTag(host, *row.tag, row.values).result;
  return row;
}

void PrintWrite(const WriteRow& row) {
  if (!row.refusal.empty()) {
    fmt::print("{:<14} {}\n", row.address, row.refusal);
    return;
  }
  fmt::print("{:<14} {:<22} {:<22} {}\n", row.address,
             row.writeResult == 0 ? FormatValues(*row.tag, row.written)
                                  : fmt::format("result {}", row.writeResult),
             row.readResult == 0 ? FormatValues(*row.tag, row.readBack)
                                 : fmt::format("result {}", row.readResult),
             row.held);
}

void PrintRead(const ReadRow& row) {
  fmt::print(
      "{:<14} {}\n", row.address,
      row.result == 0 ? FormatValues(*row.tag, row.values) : fmt::format("result {}", row.result));
}

Json WritesJson(const std::vector<WriteRow>& rows) {
  Json list = Json::array();
  for (const WriteRow& row : rows) {
    Json entry = {{"address", row.address}};
    if (!row.refusal.empty()) {
      entry["error"] = row.refusal;
    } else {
      entry["written"] = ValuesToJson(*row.tag, row.written);
      entry["result"] = row.writeResult;
      entry["readBackResult"] = row.readResult;
      if (row.readResult == 0) entry["readBack"] = ValuesToJson(*row.tag, row.readBack);
      entry["stationHolds"] = row.held;
    }
    list.push_back(std::move(entry));
  }
  return list;
}

Json ReadsJson(const std::vector<ReadRow>& rows) {
  Json list = Json::array();
  for (const ReadRow& row : rows) {
    Json entry = {{"address", row.address}, {"result", row.result}};
    if (row.result == 0) entry["values"] = ValuesToJson(*row.tag, row.values);
    list.push_back(std::move(entry));
  }
  return list;
}

}  // namespace

void AddDemoCommand(CLI::App& app, Host& host, int& exitCode) {
  CLI::App* demo = app.add_subcommand(
      "demo", "Run the driver on the simulated stations of examples/tavSH101.int");
  demo->callback([&host, &exitCode] {
    const std::string stationFile = ExampleStationFile();
    const bool json = JsonOutput();
    if (!json) {
      fmt::print("TavSH1 on the simulated H1 network, station file {}\n", stationFile);
      Heading("Initialise (command 1): the driver's log");
    }
    if (const std::optional<std::string> problem = StationFileProblem(stationFile)) {
      ReportError("demo", *problem);
      exitCode = kExitUsage;
      return;
    }
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = host.Initialise(stationFile, 0);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (const std::optional<std::string> mismatch = host.StationMapMismatch()) {
      ReportError("demo", *mismatch);
      exitCode = kExitUsage;
      return;
    }
    exitCode = result == 0 ? kExitDone : kExitRefused;

    if (!json) {
      fmt::print(
          "result {} after {} ms (stations that are switched off hold it up for their "
          "connection waits)\n",
          result, elapsed.count());
      Heading("The station table and its connections");
      PrintStationTable(host.instance());
      Heading("Tags: parse (command 3), write (10, or 7 for a bit), read back (6, or 5)");
      fmt::print("{:<14} {:<22} {:<22} {}\n", "tag", "written", "read back", "the station holds");
    }
    const Json stations = json ? StationTableJson(host.instance()) : Json();
    std::vector<WriteRow> writes;
    for (const DemoWrite& write : kWrites) {
      writes.push_back(WriteAndReadBack(host, write));
      if (!json) PrintWrite(writes.back());
    }
    if (!json) {
      Heading("Reads: values the simulation file preset, and a station that is switched off");
    }
    std::vector<ReadRow> reads;
    for (const char* address : kReads) {
      reads.push_back(Read(host, address));
      if (!json) PrintRead(reads.back());
    }
    if (!json) Heading("Close the H1 driver library (command 11)");
    const int32_t closed = host.driver().Run(&host.instance(), tav::CommandCode::kCloseH1, nullptr);
    if (!json) {
      fmt::print("result {}\n", closed);
      return;
    }
    EmitDocument({{"command", "demo"},
                  {"stationFile", stationFile},
                  {"initialisation", {{"result", result}, {"milliseconds", elapsed.count()}}},
                  {"stations", stations},
                  {"writes", WritesJson(writes)},
                  {"reads", ReadsJson(reads)},
                  {"closeResult", closed}});
  });
}

}  // namespace tavhost
