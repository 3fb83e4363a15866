#include "tags/value_view.h"

#include <fmt/core.h>

#include <string_view>

namespace tavhost {

namespace {

// Decimals beyond these show only the binary fraction's noise.
constexpr int kMostDecimals = 17;

struct NamedView {
  std::string_view name;
  IntegerView view;
};
constexpr NamedView kIntegerViews[] = {{"hex", IntegerView::kHex},
                                       {"decimal", IntegerView::kDecimal},
                                       {"signed", IntegerView::kSigned},
                                       {"binary", IntegerView::kBinary}};

const NamedView* FindView(std::string_view name) {
  for (const NamedView& entry : kIntegerViews) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

std::string ViewProblem(const std::string& name) {
  if (FindView(name) != nullptr) return "";
  return fmt::format("'{}': --format takes hex, decimal, signed or binary", name);
}

int64_t Signed(uint32_t value, size_t bytes) {
  const unsigned bits = static_cast<unsigned>(8 * bytes);
  const int64_t half = int64_t{1} << (bits - 1);
  return static_cast<int64_t>(value) >= half ? static_cast<int64_t>(value) - 2 * half
                                             : static_cast<int64_t>(value);
}

}  // namespace

void AddValueViewOptions(CLI::App& command, ValueView& view) {
  command
      .add_option_function<std::string>(
          "--format", [&view](const std::string& name) { view.integers = FindView(name)->view; },
          "How integers show: hex (0x..., the default), decimal, signed (two's complement of "
          "the element) or binary (0b...)")
      ->check(CLI::Validator(ViewProblem, "hex|decimal|signed|binary", "integer view"));
  command
      .add_option("--precision", view.decimals,
                  "Floats with this many decimals (default: the digits that tell the stored "
                  "single apart from every other one)")
      ->check(CLI::Range(0, kMostDecimals));
}

std::string IntegerText(uint32_t value, size_t bytes, IntegerView view) {
  if (bytes == 1 && value > 0xFF) bytes = 2;
  switch (view) {
    case IntegerView::kDecimal:
      return fmt::format("{}", value);
    case IntegerView::kSigned:
      return fmt::format("{}", Signed(value, bytes));
    case IntegerView::kBinary:
      return fmt::format("0b{:0{}b}", value, 8 * bytes);
    case IntegerView::kHex:
      break;
  }
  return fmt::format("0x{:0{}X}", value, 2 * bytes);
}

std::string FloatText(float value, const ValueView& view) {
  return view.decimals ? fmt::format("{:.{}f}", value, *view.decimals) : fmt::format("{}", value);
}

}  // namespace tavhost
