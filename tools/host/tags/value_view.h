// How tavhost shows the values it reads: integers in hexadecimal (as the PLC programmer's tools
// show them), unsigned or signed decimal, or binary; floats with the digits that tell the stored
// single apart from every other one, or with a fixed number of decimals.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>

namespace tavhost {

enum class IntegerView : uint8_t { kHex, kDecimal, kSigned, kBinary };

struct ValueView {
  IntegerView integers = IntegerView::kHex;
  std::optional<int> decimals;  // none: the shortest text that reads back as the same float
};

// Adds --format and --precision to a command that shows values.
void AddValueViewOptions(CLI::App& command, ValueView& view);

// An integer element of `bytes` bytes (1, 2 or 4) as the view shows it. A byte's element that
// holds more than a byte can is shown as a word.
std::string IntegerText(uint32_t value, size_t bytes, IntegerView view);
// A float as the view shows it.
std::string FloatText(float value, const ValueView& view);

}  // namespace tavhost
