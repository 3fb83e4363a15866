// A tag's values as text and JSON, and typed values into its host array.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/output.h"
#include "tags/tag.h"
#include "tags/value_view.h"

namespace tavhost {

// The values of a host array as text, one per element, separated by blanks; integers and floats
// as `view` shows them.
std::string FormatValues(const Tag& tag, const std::vector<uint8_t>& values,
                         const ValueView& view = {});
// The values of a host array typed as the tag's kind: unsigned integers for bytes, words and
// double words, numbers for floats, the text of a string, true or false for a bit.
Json ValuesToJson(const Tag& tag, const std::vector<uint8_t>& values);
// Fills a host array from texts, one per element (a string takes one); false with `error` set
// when a text does not fit the tag: an integer beyond its element, a float beyond what the
// station stores, a string longer than the characters that travel or with characters other than
// printable ASCII, a bit other than 0 or 1.
bool ParseValues(const Tag& tag, const std::vector<std::string>& texts,
                 std::vector<uint8_t>& values, std::string& error);

}  // namespace tavhost
