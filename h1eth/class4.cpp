#include "h1eth/class4.h"

namespace tav::h1eth {}  // namespace tav::h1eth
