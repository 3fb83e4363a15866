// Code page 437, the host's character set, shown on a UTF-8 terminal.
#pragma once

#include <string>
#include <string_view>

namespace tavhost {

std::string Cp437ToUtf8(std::string_view text);

}  // namespace tavhost
