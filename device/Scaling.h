#pragma once
// Conversions between instrument codes and engineering units.
//
// Code scales: KARD and LUNT 0..16383 = 0..100 % = 4..20 mA; ZET models
// 0..8191 = 0..100 % = TMin..TMax degC; the ZET-TP cold junction 0..8191 =
// 0..100 degC. Codes are signed 16-bit; codes outside the span convert with
// the same formulas.
//
// Products are formed in long double (x87 extended precision), and the
// factors 1/8191 and 1/16383 are multiplications by reciprocal constants held
// in long double, not divisions: the digits shown depend on it.

#include <cstdint>
#include <span>

namespace pmdev {

inline constexpr long double kRecip8191 = 1.0L / 8191;
inline constexpr long double kRecip16383 = 1.0L / 16383;

// code * 16 * (1/16383) + 4   (KARD, LUNT result in mA)
long double CodeToMA(int code);
// code * 100 * (1/16383)      (KARD, LUNT result and KARD setpoints in %)
long double CodeToPercent16383(int code);
// code * 100 * (1/8191)       (ZET result in %)
long double CodeToPercent8191(int code);
// TMin + (TMax - TMin) * code * (1/8191), stored as a float (ZET degC)
float CodeToDegC(int code, float tmin, float tmax);
// Txc * 100 * (1/8191)        (ZET-TP cold-junction temperature)
long double TxcToDegC(int txc);

// Typed values to codes. The typed number is first held as a float, the
// product is formed in long double and truncated toward zero. Results that
// are not finite or do not fit an int saturate (0 for NaN); the bounds check
// of the entry field keeps real input far from that.

// truncate(p * 16383 * 0.01)                       (KARD, LUNT setpoints)
int PercentToCode(double typedPercent);
// truncate((T - a) * 8191 / (b - a)), a and b being TMin and TMax each
// written as a 15-significant-digit decimal text and read back.
// b == a gives 0.
int DegCToCode(double typedDegC, float tmin, float tmax);
// truncate((I - 4) * 16383 * 0.0625)               (LUNT output control)
int MilliampToCode(double typedMA);

// A float's value after a round trip through its 15-significant-digit text.
long double Through15Digits(float value);

// Sensor resistance / e.m.f. at version 6: four bytes (reply bytes 7..10),
// an IEEE float with the most significant byte first. Needs 4 bytes; fewer
// give 0.
float BigEndianFloat(std::span<const std::uint8_t> bytes);

}  // namespace pmdev
