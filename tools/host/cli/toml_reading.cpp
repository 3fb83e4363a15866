#include "cli/toml_reading.h"

#include <fmt/core.h>

#include <fstream>

#include "cli/file_problem.h"

namespace tavhost {

namespace {

TomlReading Refused(int line, std::string problem) {
  TomlReading reading;
  reading.line = line;
  reading.problem = std::move(problem);
  return reading;
}

}  // namespace

TomlReading ReadTomlFile(const std::string& path, size_t mostBytes, std::string_view kind) {
  if (const std::optional<std::string> problem = FileReadProblem(path)) return Refused(0, *problem);
  std::ifstream file(path, std::ios::binary);
  std::string text;
  char chunk[65536];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    text.append(chunk, static_cast<size_t>(file.gcount()));
    if (text.size() > mostBytes) {
      return Refused(0, fmt::format("longer than {} MiB, not a {}", mostBytes >> 20, kind));
    }
  }
  if (file.bad()) return Refused(0, "cannot be read");
  TomlReading reading = ParseTomlText(text);
  reading.text = std::move(text);
  return reading;
}

TomlReading ParseTomlText(std::string_view text) {
  tav::toml_file::Parsed parsed = tav::toml_file::Parse(text);
  if (parsed.document) {
    TomlReading reading;
    reading.document = std::move(parsed.document);
    return reading;
  }
  const tav::toml_file::ParseProblem& problem = parsed.problem;
  switch (problem.kind) {
    case tav::toml_file::ParseProblem::Kind::kNotText:
      return Refused(problem.at.line,
                     fmt::format("byte 0x{:02X} is not ASCII text (a string takes other "
                                 "characters as \\u escapes)",
                                 problem.byte));
    case tav::toml_file::ParseProblem::Kind::kSyntax:
      return Refused(problem.at.line, "not TOML: " + problem.description);
    case tav::toml_file::ParseProblem::Kind::kParserCheck:
      break;
  }
  return Refused(0, "not TOML: the parser cannot go on (its check failed: " +
                        problem.description + ")");
}

}  // namespace tavhost
