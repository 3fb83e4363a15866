// The simulation file: a network described in TOML, and the built-in default network. README.md
// ("The simulated H1 network") documents the format.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sim/api.h"
#include "sim/network.h"

namespace tav::sim {

// A network read from a description, or why it could not be read ("file:line:column: what").
struct LoadedNetwork {
  std::optional<Network> network;
  std::string error;
};

// Reads a description; `source` names it in error messages.
TAV_SIM_API LoadedNetwork ParseNetwork(std::string_view text, std::string_view source);
TAV_SIM_API LoadedNetwork LoadNetworkFile(const std::string& path);

// The built-in network: the stations that examples/tavSH101.int names, described by
// examples/tavSH101.toml, which the build compiles in.
TAV_SIM_API std::string_view DefaultNetworkText();
TAV_SIM_API Network DefaultNetwork();

}  // namespace tav::sim
