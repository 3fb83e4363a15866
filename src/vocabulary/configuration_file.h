// Where a library beside the driver finds its configuration file, in one order for every such
// library: the file the library's environment variable names, when the variable is set; else the
// file in /etc/tavsh1/, where the .deb installs it, when it is there; else the file beside the
// library itself (the .tar.gz layout, and Windows, which has no /etc).
#pragma once

#include <string>
#include <string_view>

namespace tav {

inline constexpr std::string_view kSystemConfigurationFolder = "/etc/tavsh1/";

// `variableValue` is the environment variable's value (empty when unset), `libraryFolder` the
// library's folder with its trailing separator; `exists` answers whether a path names a file.
template <typename Exists>
std::string ConfigurationFilePath(std::string_view variableValue, std::string_view fileName,
                                  std::string_view libraryFolder, [[maybe_unused]] Exists exists) {
  if (!variableValue.empty()) return std::string(variableValue);
#if !defined(_WIN32)
  std::string system = std::string(kSystemConfigurationFolder).append(fileName);
  if (exists(system)) return system;
#endif
  return std::string(libraryFolder).append(fileName);
}

}  // namespace tav
