// The DriverInstance's lineFlags bits that choose how the serial channel drives the DTR and RTS
// lines. Each line has a table of rules tried from the top: the first rule whose bits lineFlags
// has any of gives the mode, and the last rule (no bits) matches every value. A host that asks
// for a mode sets the rule's `request` bit.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tav {

enum class LineMode : uint8_t { kOff, kOn, kHandshake, kToggle };

struct LineModeRule {
  uint16_t anyOf;    // the rule applies when lineFlags has any of these bits; 0: always
  uint16_t request;  // the bit a host sets to ask for the mode
  LineMode mode;
  std::string_view name;
};

inline constexpr std::array<LineModeRule, 3> kDtrRules{{
    {0x0101, 0x0001, LineMode::kOn, "on"},
    {0x8000, 0x8000, LineMode::kHandshake, "handshake"},
    {0x0000, 0x0000, LineMode::kOff, "off"},
}};

inline constexpr std::array<LineModeRule, 4> kRtsRules{{
    {0x0202, 0x0002, LineMode::kOn, "on"},
    {0x1000, 0x1000, LineMode::kHandshake, "handshake"},
    {0x2000, 0x2000, LineMode::kToggle, "toggle"},
    {0x0000, 0x0000, LineMode::kOff, "off"},
}};

// The rule of `rules` that `lineFlags` selects.
template <size_t N>
constexpr const LineModeRule& RuleFor(const std::array<LineModeRule, N>& rules, uint16_t lineFlags) {
  for (const LineModeRule& rule : rules) {
    if (rule.anyOf == 0 || (lineFlags & rule.anyOf) != 0) return rule;
  }
  return rules.back();
}

// Every rule's request selects that rule, and the other bits of its row select it too.
template <size_t N>
constexpr bool RequestsSelectTheirRules(const std::array<LineModeRule, N>& rules) {
  for (const LineModeRule& rule : rules) {
    if (RuleFor(rules, rule.request).mode != rule.mode) return false;
    if (RuleFor(rules, rule.anyOf).mode != rule.mode) return false;
  }
  return true;
}
static_assert(RequestsSelectTheirRules(kDtrRules) && RequestsSelectTheirRules(kRtsRules));
static_assert(RuleFor(kDtrRules, 0x0100).mode == LineMode::kOn);
static_assert(RuleFor(kDtrRules, 0x8100).mode == LineMode::kOn, "the first rule wins");
static_assert(RuleFor(kRtsRules, 0x3000).mode == LineMode::kHandshake);

}  // namespace tav
