// tavhost h1 probe: one class 4 transport connection to an H1 station over libh1eth's link, and
// what the station answered: CC with what was agreed, DR with its reason, or silence. What a
// commissioning engineer needs first: is the station on this segment, and does it accept this
// TSAP. It opens the link as libh1eth does: on Linux it needs CAP_NET_RAW, on Windows Npcap.
#include <fmt/core.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "cli/output.h"
#include "cli/tsap_text.h"
#include "commands/commands.h"
#include "commands/h1_settings.h"
#include "h1eth/link.h"
#include "h1eth/probe.h"
#include "plc_sessions/cotp.h"
#include "runtime/host.h"
#include "vocabulary/ethernet_address.h"

namespace tavhost {

namespace {

constexpr const char* kCommand = "h1 probe";

struct ProbeOptions {
  std::string station;
  std::string tsap;
  std::string localTsap = "0x0101";  // the driver's own for S7 stations
  std::string interfaceName;
};

int RunProbe(const Host& host, const ProbeOptions& options) {
  const std::optional<tav::EthernetAddress> station =
      tav::ParseEthernetAddressText(options.station);
  const std::optional<Tsap> remote = ParseTsapText(options.tsap);
  const std::optional<Tsap> local = ParseTsapText(options.localTsap);
  std::string interfaceName = options.interfaceName;
  if (interfaceName.empty()) interfaceName = host.h1Interface;
  if (const char* variable = std::getenv("TAV_H1_INTERFACE");
      interfaceName.empty() && variable != nullptr) {
    interfaceName = variable;
  }
  const auto usage = [](const std::string& message) {
    ReportError(kCommand, message);
    return kExitUsage;
  };
  if (interfaceName.empty()) {
    return usage(
        "no network interface: name it with --interface (or --h1-interface, or "
        "TAV_H1_INTERFACE)");
  }
  if (!station) return usage(fmt::format("'{}' is no 12-digit Ethernet address", options.station));
  if (!remote || !local) {
    return usage(
        fmt::format("'{}' is no TSAP: 0x and up to 16 bytes in hexadecimal digits, or up "
                    "to 8 characters of text",
                    remote ? options.localTsap : options.tsap));
  }
  tav::h1eth::LinkOpening opening = tav::h1eth::OpenPacketLink(interfaceName);
  if (!opening.link) {
    ReportError(kCommand, tav::h1eth::DescribeLinkFailure(opening, interfaceName));
    return opening.failure == tav::h1eth::LinkFailure::kNoPermission ? kExitRefused : kExitUsage;
  }
  const tav::h1eth::TransportSettings settings =
      H1TransportSettings(host, kCommand);
  const tav::h1eth::ProbeResult result =
      tav::h1eth::Probe(*opening.link, *station, *local, *remote, settings, SteadyMicroseconds);

  using Answer = tav::h1eth::ProbeResult::Answer;
  const std::string tsapText = tav::HexText(*remote);
  const std::string who = fmt::format("station {} TSAP {}", options.station, tsapText);
  const double milliseconds = static_cast<double>(result.answeredAfter) / 1000.0;
  Json document = {{"command", kCommand},
                   {"station", options.station},
                   {"tsap", tsapText},
                   {"interface", interfaceName}};
  switch (result.answer) {
    case Answer::kConfirmed:
      document.update({{"answer", "CC"},
                       {"milliseconds", milliseconds},
                       {"tpduBytes", result.tpduBytes},
                       {"checksum", result.checksum},
                       {"numbering", result.extendedNumbering ? "extended" : "normal"},
                       {"localReference", result.localReference},
                       {"remoteReference", result.remoteReference}});
      if (JsonOutput()) {
        EmitDocument(document);
      } else {
        fmt::print("{} confirmed the connection (CC) after {:.1f} ms\n", who, milliseconds);
        fmt::print("  TPDU size {} bytes, checksum {}, {} numbering\n", result.tpduBytes,
                   result.checksum ? "on" : "off",
                   result.extendedNumbering ? "extended (31-bit)" : "normal (7-bit)");
        fmt::print("  references: ours 0x{:04X}, the station's 0x{:04X}; released again\n",
                   result.localReference, result.remoteReference);
      }
      return kExitDone;
    case Answer::kRefused: {
      const std::string reason = tav::cotp::DisconnectReasonText(result.reason);
      document.update({{"answer", "DR"}, {"reason", result.reason}, {"reasonText", reason}});
      if (JsonOutput()) {
        EmitDocument(document);
      } else {
        fmt::print("{} refused the connection (DR): reason 0x{:02X}, {}\n", who, result.reason,
                   reason);
      }
      return kExitRefused;
    }
    case Answer::kSilent:
      document.update({{"answer", "none"}, {"connectionRequests", result.connectionRequests}});
      if (JsonOutput()) {
        EmitDocument(document);
      } else {
        fmt::print(
            "{} did not answer {} connection requests on {} ({} ms apart): is the address "
            "right, the station on this segment and the interface up?\n",
            who, result.connectionRequests, interfaceName, settings.retransmissionTime / 1000);
      }
      return kExitRefused;
    case Answer::kBroken:
      break;
  }
  const std::string cause = tav::h1eth::BreakCauseText(result.cause);
  document.update({{"answer", "broken"}, {"cause", cause}});
  if (JsonOutput()) {
    EmitDocument(document);
  } else {
    fmt::print("{}: the connection attempt ended: {}\n", who, cause);
  }
  return kExitRefused;
}

}  // namespace

void AddH1Command(CLI::App& app, Host& host, int& exitCode) {
  CLI::App* h1 = app.add_subcommand("h1", "H1 over raw Ethernet (libh1eth's transport) directly");
  h1->require_subcommand(1);
  static ProbeOptions options;
  CLI::App* probe = h1->add_subcommand(
      "probe", "Open one transport connection to an H1 station and report what it answered");
  probe->add_option("MAC", options.station, "The station's Ethernet address, 12 hex digits")
      ->required();
  probe
      ->add_option("TSAP", options.tsap,
                   "The station's TSAP: 0x and hex digits (S7: 0x0302 for slot 2), or text "
                   "(S5: up to 8 characters, padded with blanks)")
      ->required();
  probe->add_option("--local-tsap", options.localTsap, "Our TSAP, written as TSAP is")
      ->capture_default_str();
  probe->add_option("--interface", options.interfaceName,
                    "Network interface (default: --h1-interface, else TAV_H1_INTERFACE)");
  probe->callback([&host, &exitCode] { exitCode = RunProbe(host, options); });
}

}  // namespace tavhost
