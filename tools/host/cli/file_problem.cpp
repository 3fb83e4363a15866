#include "cli/file_problem.h"

#include <fmt/core.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tavhost {

namespace {

// The system's reason as a message continues it: "Permission denied" becomes "permission denied".
std::string Reason(const std::error_code& error) {
  std::string text = error.message();
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

}  // namespace

std::optional<std::string> FileReadProblem(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) {
    return fmt::format("{}: no such file", path);
  }
  if (error) return fmt::format("cannot read {}: {}", path, Reason(error));
  if (!std::filesystem::is_regular_file(status)) return fmt::format("{}: not a file", path);
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return fmt::format("cannot read {}: {}", path,
                       Reason(std::error_code(errno, std::generic_category())));
  }
  std::fclose(file);
  return std::nullopt;
}

}  // namespace tavhost
