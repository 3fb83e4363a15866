// Where tavhost finds the driver library, libh1tcp, libh1eth and the example station file: beside
// itself as a package installs them (bin/tavhost, lib/libtavsh1.so, lib/libh1tcp.so,
// lib/libh1eth.so, share/tavsh1/examples), or else where the build put them.
#pragma once

#include <filesystem>
#include <string>

namespace tavhost {

std::string DefaultDriverPath();
std::string DefaultH1TcpPath();  // empty where this build has no libh1tcp
std::string DefaultH1EthPath();  // empty where this build has no libh1eth
std::string ExampleStationFile();

// The folder that holds the running program; empty when the system does not say.
std::filesystem::path ProgramFolder();

}  // namespace tavhost
