#include "Scaling.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

namespace pmdev {

namespace {

int TruncateToInt(long double v) {
  if (std::isnan(v)) return 0;
  const long double t = std::trunc(v);
  if (t >= static_cast<long double>(std::numeric_limits<int>::max()))
    return std::numeric_limits<int>::max();
  if (t <= static_cast<long double>(std::numeric_limits<int>::min()))
    return std::numeric_limits<int>::min();
  return static_cast<int>(t);
}

}  // namespace

long double CodeToMA(int code) {
  return static_cast<long double>(code) * 16 * kRecip16383 + 4;
}

long double CodeToPercent16383(int code) {
  return static_cast<long double>(code) * 100 * kRecip16383;
}

long double CodeToPercent8191(int code) {
  return static_cast<long double>(code) * 100 * kRecip8191;
}

float CodeToDegC(int code, float tmin, float tmax) {
  const long double span = static_cast<long double>(tmax) - tmin;
  const long double degC = tmin + span * code * kRecip8191;
  return static_cast<float>(degC);
}

long double TxcToDegC(int txc) {
  return static_cast<long double>(txc) * 100 * kRecip8191;
}

int PercentToCode(double typedPercent) {
  const float p = static_cast<float>(typedPercent);
  return TruncateToInt(static_cast<long double>(p) * 16383 * 0.01L);
}

long double Through15Digits(float value) {
  char text[64];
  const auto written = std::to_chars(text, text + sizeof text, static_cast<double>(value),
                                     std::chars_format::general, 15);
  long double back = 0;
  std::from_chars(text, written.ptr, back);
  return back;
}

int DegCToCode(double typedDegC, float tmin, float tmax) {
  const float t = static_cast<float>(typedDegC);
  const long double a = Through15Digits(tmin);
  const long double b = Through15Digits(tmax);
  if (b == a) return 0;
  return TruncateToInt((t - a) * 8191 / (b - a));
}

int MilliampToCode(double typedMA) {
  const float i = static_cast<float>(typedMA);
  return TruncateToInt((static_cast<long double>(i) - 4) * 16383 * 0.0625L);
}

float BigEndianFloat(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 4) return 0.0f;
  const std::uint32_t bits = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
                             (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
  return std::bit_cast<float>(bits);
}

}  // namespace pmdev
