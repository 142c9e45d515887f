#pragma once
// How computed values, status bits and cold-junction readings are shown.

#include <cstdint>
#include <string>

namespace pmdev {

struct Rgb {
  std::uint8_t r, g, b;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb kTeal{0, 128, 128};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kNavy{0, 0, 128};
inline constexpr Rgb kWhite{255, 255, 255};

// Fixed-point text of `value` with P significant digits and D decimals.
//
// The value is written with 18 significant digits, then rounded once, half
// away from zero, at whichever is coarser: the P-th significant digit or the
// D-th decimal (0.12346 with P = 4, D = 3 gives "0,123"). It is then written with
// exactly D digits after a comma (zeros padded), a leading "-" for negative
// values, and at least one digit before the comma. A value that rounds to
// zero is written without a sign ("0,000").
//
// When the rounded value's integer part needs more than P digits, the value
// is written in scientific form instead: the mantissa rounded to P
// significant digits with trailing zeros dropped, "E", the exponent's sign
// and at least two exponent digits: 123456 with P = 5 gives "1,2346E+05",
// 100000 gives "1E+05".
// NaN and infinities are written "NAN", "INF", "-INF".
std::string FormatFixed(long double value, int P, int D);

struct FixedFormat {
  int P;
  int D;
};

// Formats of each display.
inline constexpr FixedFormat kFmtResultMA{5, 3};        // result in mA (KARD, LUNT)
inline constexpr FixedFormat kFmtResultPercent{5, 3};   // result in % (all models)
inline constexpr FixedFormat kFmtResultDegC{5, 2};      // result in degC (ZET)
inline constexpr FixedFormat kFmtSetpointPercent{4, 2}; // setpoints in % (KARD, also LUNT)
inline constexpr FixedFormat kFmtSetpointDegC{4, 0};    // setpoints in degC (ZET)
inline constexpr FixedFormat kFmtColdJunction{5, 2};    // cold-junction temperature
inline constexpr FixedFormat kFmtRtEt{6, 3};            // "Rt, Ом" / "Et, mV" (version 6)

inline std::string Format(long double value, FixedFormat f) { return FormatFixed(value, f.P, f.D); }

// State indicators built from the Status byte (image byte 43).
struct StatusDisplay {
  std::string digits;  // the digit field text (StNar / StSost)
  std::string text;    // the caption text (Label19 / Label18)
  Rgb colour;          // text colour of the caption and background of the digits
  bool fault;          // a setpoint violated / an overflow
};

// Alarm state: digits of bit 1 and bit 0 ("01"); "     Норма" in teal when
// both are clear, "Нарушение" in red otherwise.
StatusDisplay AlarmState(int status);

// Measurement state: digits of bits 7, 6, 5 ("100"); "       Норма" in teal
// when all are clear, "Переполнение" in red otherwise.
StatusDisplay MeasurementState(int status);

// The cold-junction reading is invalid when KodTxc is 32767 or -32768, or
// Txc is -32768: the temperature field is then emptied and painted red;
// otherwise it shows the temperature on the tooltip background colour.
bool ColdJunctionValid(int kodTxc, int txc);

}  // namespace pmdev
