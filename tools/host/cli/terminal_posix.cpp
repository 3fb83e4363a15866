#include <unistd.h>

#include <cstdlib>
#include <string_view>

#include "cli/terminal.h"

namespace tavhost {

bool PrepareTerminal() {
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) == 1 && term != nullptr && std::string_view(term) != "dumb";
}

}  // namespace tavhost
