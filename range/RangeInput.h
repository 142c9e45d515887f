#pragma once
// What the range edits of the non-standard range dialog let through: the key
// filter (by virtual-key code and Shift) and the check of a whole text when
// the edit is left.  Plain C++ so that both are tested without a window.

#include <optional>
#include <string>
#include <string_view>

namespace pmrange {

enum class KeyResult {
  Accepted,
  Enter,    // Enter in a non-empty edit: the focus moves on
  Rejected  // input error
};

KeyResult RangeKeyFilter(int virtualKey, bool shift, bool textEmpty);

// Checks a typed range end (UTF-8, comma as decimal separator).  The number
// when the text is accepted; nothing when it is an input error.
std::optional<double> CheckRangeText(std::string_view text);

// A number as the operator would type it: shortest form, comma as decimal
// separator ("12,5", "-40", "0").
std::string FormatRangeValue(double value);

// A node code as shown in the result edits: the nearest whole number.
std::string FormatNodeCode(double value);

}  // namespace pmrange
