#include <cstdlib>

#include "h1_front/library_files.h"

namespace tav::front {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace tav::front
