// What tavhost's command line checks and offers beyond each command's options: the host data
// types --type takes, a suggestion for a misspelt command, and the version.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace tavhost {

// Checks --type: the host data types the driver's parser gives a meaning, and 0 for none.
CLI::Validator HostDataTypeCheck();

// The subcommand of `app` nearest to `typed` (a misspelt "raed" gives "read"); none when no name
// is within two edits of it, or `typed` is a subcommand's name.
std::optional<std::string> SuggestedSubcommand(const CLI::App& app, std::string_view typed);

// Why the parse of `app` failed, with "did you mean" added when the first argument it could not
// place is a misspelt subcommand.
std::string FailureMessage(const CLI::App& app, const CLI::Error& error);

// tavhost's version, and the version line the driver library at `libraryPath` logs when it
// initialises (or why it cannot be loaded).
std::string VersionText(const std::string& libraryPath);

}  // namespace tavhost
