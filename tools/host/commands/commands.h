// tavhost's subcommands, each added to the program's command line by its own file.
#pragma once

#include <CLI/CLI.hpp>

#include "runtime/host.h"

namespace tavhost {

// Each command adds its subcommand to the app; its callback runs when the user picked it and
// stores the program's exit code in `exitCode`.
void AddInfoCommand(CLI::App& app, Host& host, int& exitCode);
void AddInitCommand(CLI::App& app, Host& host, int& exitCode);
void AddDemoCommand(CLI::App& app, Host& host, int& exitCode);
void AddReadCommand(CLI::App& app, Host& host, int& exitCode);
void AddWriteCommand(CLI::App& app, Host& host, int& exitCode);
void AddCheckCommand(CLI::App& app, Host& host, int& exitCode);
void AddWatchCommand(CLI::App& app, Host& host, int& exitCode);
void AddSerialCommand(CLI::App& app, Host& host, int& exitCode);
void AddBridgeCommand(CLI::App& app, Host& host, int& exitCode);
// tavhost gateway FILE (gateway/).
void AddGatewayCommand(CLI::App& app, Host& host, int& exitCode);
// tavhost h1 probe, libh1eth's transport used directly.
void AddH1Command(CLI::App& app, Host& host, int& exitCode);

}  // namespace tavhost
