// The running program's folder on Linux: the link /proc/self/exe.
#include <system_error>

#include "cli/install_layout.h"

namespace tavhost {

std::filesystem::path ProgramFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : program.parent_path();
}

}  // namespace tavhost
