// A TOML file of tavhost's own (the bridge file, the gateway file) read into a document, or the
// one problem that stops it: the file cannot be read, is too long, is not ASCII text or not TOML.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "toml_file/document.h"

namespace tavhost {

struct TomlReading {
  std::optional<tav::toml_file::Document> document;
  std::string text;  // the file's text (ReadTomlFile)
  int line = 0;      // where the problem lies; 0: the file as a whole
  std::string problem;
};

// Reads the file at `path`, at most `mostBytes` long; a longer one is "not a KIND".
TomlReading ReadTomlFile(const std::string& path, size_t mostBytes, std::string_view kind);
// Parses `text` with the problem in the reader's words.
TomlReading ParseTomlText(std::string_view text);

}  // namespace tavhost
