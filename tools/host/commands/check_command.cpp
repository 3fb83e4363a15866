// tavhost check: commands 3 and 4 on each address against the station table, with an explanation
// of what the address means or which rule it breaks. The explanation comes from tavhost's own
// rules; every verdict and every output field is compared with the driver's, and a difference is
// reported as such (exit code 3), never papered over.
#include <fmt/core.h>

#include "abi/address_block.h"
#include "cli/output.h"
#include "commands/commands.h"
#include "tags/address_rules.h"
#include "tags/tag.h"

namespace tavhost {

namespace {

// One command's answer on one address, beside what the rules make of it.
struct Verdict {
  int32_t result = 0;
  tav::AddressBlock block{};
  AddressReading reading;
  std::string disagreement;  // empty when the driver and the rules agree
};

std::string Describe(const AddressReading& reading) {
  return reading.valid() ? "valid" : "refused (" + reading.refusal->rule + ")";
}

// Where the two may differ: the verdict, and every output of a valid address.
std::string Compare(const Verdict& verdict) {
  const AddressReading& r = verdict.reading;
  if ((verdict.result == 0) != r.valid()) {
    return fmt::format("the driver answers {}, tavhost's rules find it {}", verdict.result,
                       Describe(r));
  }
  if (!r.valid()) return "";
  const tav::AddressBlock& b = verdict.block;
  const struct {
    const char* field;
    int64_t driver;
    int64_t rules;
  } fields[] = {
      {"station", b.plcNumber, r.station},
      {"AreaTypeCode", b.areaTypeCode, r.areaTypeCode},
      {"packed address", b.packedAddress, r.packedAddress},
      {"bit number", b.bitNumber, r.bitNumber},
      {"element width", b.elementWidth, r.elementWidth},
  };
  for (const auto& f : fields) {
    if (f.driver != f.rules) {
      return fmt::format("the driver's {} is 0x{:X}, tavhost's rules give 0x{:X}", f.field,
                         f.driver, f.rules);
    }
  }
  return "";
}

Verdict Judge(Host& host, const std::string& address, AddressCommand command, int32_t hostDataType,
              int32_t count) {
  Verdict verdict;
  verdict.block.addressText = address.c_str();
  verdict.block.hostDataType = hostDataType;
  verdict.block.elementCount = count;
  const tav::CommandCode code = command == AddressCommand::kParse ? tav::CommandCode::kParseAddress
                                                                  : tav::CommandCode::kCheckAddress;
  verdict.result = host.driver().Run(&host.instance(), code, &verdict.block, host.driverNumber());
  verdict.block.addressText = nullptr;
  verdict.reading = ReadAddress(address, command, hostDataType, count, StationsOf(host.instance()));
  verdict.disagreement = Compare(verdict);
  return verdict;
}

// Where the offset counts: bytes in S7 data blocks and every process area, words in the data
// blocks of the other station types.
std::string OffsetText(const AddressReading& r) {
  const bool words = r.dataBlockForm && r.stationView.plcType != tav::kPlcTypeS7;
  return fmt::format("{} {}", words ? "word" : "byte", r.offset);
}

std::string ElementText(const AddressReading& r) {
  if (r.area == 'S') {
    return fmt::format("string of {} characters at {}", r.stringLength, OffsetText(r));
  }
  std::string text = fmt::format("{} at {}", ElementName(r.areaTypeCode), OffsetText(r));
  if (r.bitNumber != tav::kNoBitNumber) text += fmt::format(", bit {}", r.bitNumber);
  return text + fmt::format(" (element width {})", r.elementWidth);
}

std::string PackedText(const AddressReading& r) {
  const uint32_t packed = r.packedAddress;
  if (r.area == 'S') {
    return fmt::format("0x{:08X}: offset {}, block {}, length {}", packed,
                       tav::PackedOffset(packed), tav::PackedStringBlock(packed),
                       tav::PackedStringLength(packed));
  }
  if (!r.dataBlockForm) {
    return fmt::format("0x{:08X}: stored offset {}", packed, tav::PackedOffset(packed));
  }
  return fmt::format("0x{:08X}: stored offset {}, block {}", packed, tav::PackedOffset(packed),
                     tav::PackedBlock(packed));
}

// The 13 characters in quotes, with a mark under the part the refusal names.
void PrintMarked(const Refusal& refusal, const std::string& workText) {
  fmt::print("  \"{}\"\n", workText);
  if (refusal.width == 0) return;
  fmt::print("   {}{}\n", std::string(refusal.position, ' '), std::string(refusal.width, '^'));
}

// Why the transfers (commands 5 and 7) refuse a tag that command 3 accepts; none when they take
// it or command 3 refused it.
std::optional<std::string> TransferRefusalOf(const Verdict& parse) {
  if (parse.result != 0) return std::nullopt;
  return TransferRefusal(parse.block.areaTypeCode, parse.block.bitNumber);
}

// The address as typed, and the 13-character form the driver reads.
struct AddressForms {
  std::string typed;
  std::string thirteen;

  bool translated() const { return typed != thirteen; }
};

void PrintVerdicts(const AddressForms& address, const Verdict& parse, const Verdict& check,
                   int32_t hostDataType, int32_t count) {
  const AddressReading& r = parse.reading;
  const std::optional<std::string> transferRefusal = TransferRefusalOf(parse);
  fmt::print("{}  {}\n", address.typed,
             parse.result != 0 ? "refused"
             : transferRefusal ? "valid as an address, refused when read or written"
                               : "valid");
  if (address.translated()) fmt::print("  {:<14} {}\n", "13 characters", address.thirteen);
  const AddressReading& shown = r.valid() ? r : check.reading;
  if (shown.valid()) {
    const uint8_t plcType = shown.stationView.plcType;
    fmt::print("  {:<14} {:02}, {}\n", "station", shown.station, StationTypeName(plcType));
    fmt::print("  {:<14} {}\n", "area", AreaName(shown));
    fmt::print("  {:<14} {}\n", "element", ElementText(shown));
    fmt::print("  {:<14} 0x{:04X}\n", "AreaTypeCode", shown.areaTypeCode);
    fmt::print("  {:<14} {}\n", "packed address", PackedText(shown));
    if (shown.area != 'S') {
      fmt::print("  {:<14} at most {} elements\n", "one transfer",
                 MaxElementsPerTransfer(shown.areaTypeCode, plcType));
    }
  }
  if (!r.valid()) {
    PrintMarked(*r.refusal, r.workText);
    fmt::print("  {}\n", RefusalText(*r.refusal));
  }
  fmt::print("  {:<14} result {}, host data type {}\n", "command 3", parse.result,
             HostDataTypeName(hostDataType));
  const AddressReading& c = check.reading;
  const bool sameRefusal = !r.valid() && !c.valid() && r.refusal->rule == c.refusal->rule;
  fmt::print("  {:<14} result {}, element count {}{}\n", "command 4", check.result, count,
             c.valid() || sameRefusal ? "" : ": " + RefusalText(*c.refusal));
  if (transferRefusal) {
    fmt::print("  {:<14} refused (result 1): {}\n", "commands 5, 7", *transferRefusal);
  }
}

Json ReadingJson(const Verdict& verdict) {
  const AddressReading& r = verdict.reading;
  Json json = {{"result", verdict.result}};
  if (r.valid()) {
    json["plcNumber"] = r.station;
    json["areaTypeCode"] = fmt::format("0x{:04X}", r.areaTypeCode);
    json["packedAddress"] = fmt::format("0x{:08X}", r.packedAddress);
    json["bitNumber"] = r.bitNumber;
    json["elementWidth"] = r.elementWidth;
  } else {
    const Refusal& refusal = *r.refusal;
    json["refusal"] = {{"rule", refusal.rule},
                       {"position", refusal.width == 0 ? Json() : Json(refusal.position)},
                       {"width", refusal.width},
                       {"reason", refusal.reason},
                       {"text", RefusalText(refusal)}};
  }
  return json;
}

Json VerdictsJson(const AddressForms& address, const Verdict& parse, const Verdict& check,
                  int32_t hostDataType, int32_t count) {
  Json document = {{"command", "check"},
                   {"address", address.typed},
                   {"hostDataType", hostDataType},
                   {"count", count},
                   {"valid", parse.result == 0}};
  if (address.translated()) document["translation"] = address.thirteen;
  const AddressReading& shown = parse.reading.valid() ? parse.reading : check.reading;
  if (shown.valid()) {
    document["station"] = {{"number", shown.station}, {"type", shown.stationView.plcType}};
    document["area"] = AreaName(shown);
    document["element"] = ElementText(shown);
    if (shown.area != 'S') {
      document["maxElementsPerTransfer"] =
          MaxElementsPerTransfer(shown.areaTypeCode, shown.stationView.plcType);
    }
  }
  document["command3"] = ReadingJson(parse);
  document["command4"] = ReadingJson(check);
  if (parse.result == 0) {
    // Whether reading and writing the tag (commands 5 and 7) take it as well.
    const std::optional<std::string> transferRefusal = TransferRefusalOf(parse);
    document["transfer"] = transferRefusal ? Json{{"accepted", false}, {"reason", *transferRefusal}}
                                           : Json{{"accepted", true}};
  }
  document["agrees"] = parse.disagreement.empty() && check.disagreement.empty();
  return document;
}

// The exit code one address asks for: command 4's refusal of every string address is no fault;
// a tag that the transfers would refuse is one, although its address is valid.
int ExitCodeOf(const Verdict& parse, const Verdict& check) {
  if (!parse.disagreement.empty() || !check.disagreement.empty()) return kExitDisagreement;
  const bool checkRefused = check.result != 0 && !(check.reading.refusal &&
                                                   check.reading.refusal->rule == "check-string");
  return parse.result != 0 || checkRefused || TransferRefusalOf(parse) ? kExitRefused : kExitDone;
}

}  // namespace

void AddCheckCommand(CLI::App& app, Host& host, int& exitCode) {
  struct Options {
    StationOptions stations;
    std::vector<std::string> addresses;
    std::optional<int32_t> hostDataType;
    int32_t count = 1;
  };
  auto options = std::make_shared<Options>();
  CLI::App* command = app.add_subcommand(
      "check", "Explain tag addresses: commands 3 and 4 against the station table");
  command
      ->add_option("addresses", options->addresses,
                   "Tag addresses, e.g. 01DF0100010, DB10.DBW4, 05:M10.3")
      ->required();
  command
      ->add_option("--type", options->hostDataType,
                   "Host data type for command 3 (default: from the address: 3 float, "
                   "4 double word, 6 bit, 7 string; float, bit, string by name)")
      ->transform(HostDataTypeNames());
  command->add_option("--count", options->count, "Element count for command 4")
      ->capture_default_str();
  AddStationOptions(*command, options->stations);
  command->callback([&host, &exitCode, options] {
    // Commands 3 and 4 judge addresses without a station: check needs no H1 library.
    if (!InitialiseQuietly(host, options->stations, "check", exitCode, false)) return;
    exitCode = kExitDone;
    for (const std::string& typed : options->addresses) {
      int familiarExit = kExitDone;
      const std::optional<std::string> thirteen =
          ThirteenCharacterForm(host, "check", typed, options->hostDataType, familiarExit);
      if (!thirteen) {
        exitCode = std::max(exitCode, familiarExit);
        continue;
      }
      const AddressForms forms{typed, *thirteen};
      const std::string& address = forms.thirteen;
      if (address.size() > kAddressCharacters) {
        ReportError("check",
                    fmt::format("{}: an address has at most 13 characters, not {} (the driver "
                                "would judge \"{}\" alone)",
                                address, address.size(), address.substr(0, kAddressCharacters)),
                    {{"address", address}});
        exitCode = std::max(exitCode, kExitUsage);
        continue;
      }
      const int32_t type = options->hostDataType.value_or(HostDataTypeOf(host, address));
      const Verdict parse = Judge(host, address, AddressCommand::kParse, type, options->count);
      const Verdict check = Judge(host, address, AddressCommand::kCheck, type, options->count);
      for (const std::string* disagreement : {&parse.disagreement, &check.disagreement}) {
        if (disagreement->empty()) continue;
        std::fflush(stdout);
        fmt::print(stderr, "tavhost check: {}: command {}: {}\n", address,
                   disagreement == &parse.disagreement ? 3 : 4, *disagreement);
      }
      exitCode = std::max(exitCode, ExitCodeOf(parse, check));
      if (JsonOutput()) {
        EmitDocument(VerdictsJson(forms, parse, check, type, options->count));
      } else {
        PrintVerdicts(forms, parse, check, type, options->count);
      }
    }
  });
}

}  // namespace tavhost
