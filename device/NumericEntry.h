#pragma once
// Validated numeric entry: key filters and the text check of the numeric edit
// fields (setpoints, the cold-junction coefficient, the LUNT output value).
//
// These are pure functions. Whenever one of them answers 1 (rejected), the
// caller gives the rejection signal, always the same: paint the field red,
// beep, show the plain message " Ошибка ввода " (one OK button, no icon)
// through the message service and wait for it, paint the field white, and
// empty the field. A rejected key must not reach the field afterwards.
//
// Typed numbers use a comma as decimal separator, whatever the process
// locale; texts are UTF-8 and counted in characters, not bytes.

#include <optional>
#include <string_view>

namespace pmdev {

// Range kinds of CheckNumber (bounds inclusive).
enum RangeKind : int {
  kRangeTMinTMax = 1,  // ZET setpoints, degC: TMin..TMax
  kRangePercent = 2,   // KARD setpoints: 0..100
  kRangeKTxc = 3,      // cold-junction coefficient: 0..9999
  kRangeMilliamp = 4,  // LUNT output value: 0..20
  // any other kind: no range test
};

// The rejection message text the caller shows.
inline constexpr std::string_view kInputErrorText = " Ошибка ввода ";

// Key filter results.
inline constexpr int kKeyAccepted = 0;
inline constexpr int kKeyRejected = 1;
inline constexpr int kKeyEnter = 13;

// Reads a typed number: an optional leading minus, digits, at most one comma
// followed by digits; at least one digit. Anything else (a point, a blank, a
// letter, an exponent, a plus sign) is not a number.
std::optional<double> ParseTypedNumber(std::string_view text);

// Whole-text check when a field is left: 0 valid, 1 invalid.
// Checks in order, stopping at the first failure:
//  1. empty text;
//  2. within the first 7 characters more than one comma, or a comma that is
//     the last character of the text;
//  3. within the first 7 characters a "б", "Б" or "?";
//  4. within the first 7 characters more than one minus, or a minus that is
//     not the first character, or the text is "-" alone;
//  5. the text is not a number (ParseTypedNumber), or lies outside the
//     bounds of `kind` (kind 1: tmin..tmax).
int CheckNumber(std::string_view text, int kind, float tmin, float tmax);

// Decimal key filter (setpoints, LUNT output value). `vkCode` is a Windows
// virtual-key code, `shift` the Shift state. 0 accepted, 13 Enter in a
// non-empty field, 1 rejected (also Enter in an empty field).
int DecKeyFilter(bool fieldEmpty, int vkCode, bool shift);

// Integer key filter (cold-junction coefficient): the digit keys whatever
// the Shift state, the editing keys, Enter as above; everything else 1.
int IntKeyFilter(bool fieldEmpty, int vkCode);

}  // namespace pmdev
