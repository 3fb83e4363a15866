// What the bridge file's reader and its tags' resolution share: how a text of the file is quoted
// in a problem's line, and the problems in the order of their lines.
#pragma once

#include <string>
#include <string_view>

#include "bridge/bridge_settings.h"

namespace tavhost::bridge {

// A text of the file in quotes, for a problem's line: control characters and quotes escaped, so
// that a name or address holding a line end (a TOML escape) still gives one line.
std::string Quoted(std::string_view text);

void SortByLine(BridgeFileProblems& problems);

}  // namespace tavhost::bridge
