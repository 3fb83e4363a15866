#include "commands/command_line.h"

#include <fmt/core.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <vector>

#include "abi/address_block.h"
#include "abi/records.h"
#include "cli/output.h"
#include "runtime/driver_library.h"
#include "runtime/host.h"

namespace tavhost {

namespace {

struct HostDataType {
  int32_t code;
  std::string_view meaning;
};

// The host data types a tag may ask for; the driver takes any other number as 0.
constexpr HostDataType kHostDataTypes[] = {
    {0, "no special type: words, bytes as the address says"},
    {tav::kHostTypeFloat, "float"},
    {tav::kHostTypeInteger, "32-bit integer: a double word"},
    {tav::kHostTypeOtherInteger, "the other 32-bit integer type"},
    {tav::kHostTypeBit, "bit"},
    {tav::kHostTypeString, "string"},
};

// A misspelling this far from a name is still recognisably that name.
constexpr size_t kMostEdits = 2;

// Levenshtein distance: insertions, deletions and substitutions that turn `a` into `b`.
size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  std::iota(row.begin(), row.end(), size_t{0});
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string HostDataTypeProblem(const std::string& text) {
  int32_t code = 0;
  const bool number = CLI::detail::lexical_cast(text, code);
  if (number && std::any_of(std::begin(kHostDataTypes), std::end(kHostDataTypes),
                            [code](const HostDataType& type) { return type.code == code; })) {
    return "";
  }
  std::string list;
  for (const HostDataType& type : kHostDataTypes) {
    list += fmt::format("{}{} ({})", list.empty() ? "" : ", ", type.code, type.meaning);
  }
  return fmt::format(
      "'{}' is no host data type; --type takes {}, or the names float, bit and "
      "string",
      text, list);
}

}  // namespace

CLI::Validator HostDataTypeCheck() {
  return CLI::Validator(HostDataTypeProblem, "0|3|4|5|6|7", "host data type");
}

std::optional<std::string> SuggestedSubcommand(const CLI::App& app, std::string_view typed) {
  std::optional<std::string> nearest;
  size_t fewest = kMostEdits + 1;
  for (const CLI::App* command : app.get_subcommands({})) {
    const std::string& name = command->get_name();
    const size_t edits = EditDistance(typed, name);
    if (edits == 0) return std::nullopt;
    if (edits < fewest) {
      fewest = edits;
      nearest = name;
    }
  }
  return nearest;
}

std::string FailureMessage(const CLI::App& app, const CLI::Error& error) {
  std::string message = fmt::format("tavhost: {}\n", error.what());
  // The first argument that is no option, where a subcommand was wanted.
  const std::vector<std::string> left = app.remaining();
  const auto word = std::find_if(left.begin(), left.end(),
                                 [](const std::string& arg) { return !arg.starts_with('-'); });
  if (app.get_subcommands().empty() && word != left.end()) {
    if (const std::optional<std::string> suggestion = SuggestedSubcommand(app, *word)) {
      message +=
          fmt::format("tavhost: '{}' is no command; did you mean '{}'?\n", *word, *suggestion);
    }
  }
  return message;
}

std::string VersionText(const std::string& libraryPath) {
  std::string text = fmt::format("tavhost {}\n", TAVHOST_VERSION);
  const DriverLibrary driver(libraryPath);
  if (!driver.loaded()) {
    return text + fmt::format("driver: cannot load {}: {}", libraryPath, driver.error());
  }
  // Command 1 on a disabled InitBlock logs the driver's version line and does nothing else.
  const auto instance = std::make_unique<tav::DriverInstance>();
  tav::InitBlock disabled{};
  EchoDriverLog(false);
  driver.Run(instance.get(), tav::CommandCode::kInitialise, &disabled);
  EchoDriverLog(true);
  const std::string logged = LastDriverLog();  // "HH:MM:SS.mmm line"
  const size_t blank = logged.find(' ');
  // CLI11 ends the text with a line feed of its own.
  return text + fmt::format("driver: {}", blank == std::string::npos
                                              ? std::string("no version line logged")
                                              : logged.substr(blank + 1));
}

}  // namespace tavhost
