#include "DisplayFormat.h"

#include <charconv>
#include <cmath>
#include <string>

namespace pmdev {

namespace {

// Decimal digits of |value|: value = 0.d0 d1 d2 ... * 10^(exp10).
//
// The value is first written with 18 significant digits (what an extended
// value holds reliably), and the display rounding works on those digits. So
// a computed value that is a decimal tie up to the last bits of its binary
// form (0.0005 held as 0.000499999...) rounds as the tie it stands for.
struct Digits {
  std::string d;  // significant digits, d[0] != '0' unless the value is 0
  int exp10;
};

Digits DecimalDigits(long double magnitude) {
  char buf[128];
  const auto res = std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific, 17);
  std::string text(buf, res.ptr);
  const auto e = text.find('e');
  std::string mantissa = text.substr(0, e);
  const int exponent = std::stoi(text.substr(e + 1));
  Digits out;
  for (char c : mantissa)
    if (c != '.') out.d += c;
  out.exp10 = exponent + 1;
  return out;
}

// Rounds half away from zero to `keep` significant digits. Returns the kept
// digits (possibly "1" after a carry, with exp10 raised) or an empty string
// when the value rounds to zero.
Digits RoundDigits(Digits v, int keep) {
  if (keep < 0) return {"", v.exp10};
  const bool up = keep < static_cast<int>(v.d.size()) && v.d[static_cast<std::size_t>(keep)] >= '5';
  std::string kept = v.d.substr(0, static_cast<std::size_t>(keep));
  if (up) {
    int i = keep - 1;
    while (i >= 0 && kept[static_cast<std::size_t>(i)] == '9') kept[static_cast<std::size_t>(i--)] = '0';
    if (i >= 0) {
      ++kept[static_cast<std::size_t>(i)];
    } else {
      kept.insert(kept.begin(), '1');
      ++v.exp10;
      if (keep > 0) kept.pop_back();
      else kept = "1";
    }
  }
  if (kept.find_first_not_of('0') == std::string::npos) kept.clear();
  return {kept, v.exp10};
}

std::string Scientific(const Digits& v, int P, bool negative) {
  Digits r = RoundDigits(v, P);
  std::string mant = r.d;
  while (mant.size() > 1 && mant.back() == '0') mant.pop_back();
  std::string out = negative ? "-" : "";
  out += mant[0];
  if (mant.size() > 1) {
    out += ',';
    out += mant.substr(1);
  }
  const int exponent = r.exp10 - 1;
  out += exponent < 0 ? "E-" : "E+";
  std::string e = std::to_string(std::abs(exponent));
  if (e.size() < 2) e.insert(0, "0");
  return out + e;
}

}  // namespace

std::string FormatFixed(long double value, int P, int D) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (P < 1) P = 1;
  if (D < 0) D = 0;

  const bool negative = std::signbit(value);
  Digits v = DecimalDigits(std::fabs(value));
  if (v.d.find_first_not_of('0') == std::string::npos) v = {"", 0};

  Digits r{"", 0};
  if (!v.d.empty()) {
    const int keep = std::min(P, v.exp10 + D);
    r = RoundDigits(v, keep);
    if (!r.d.empty() && r.exp10 > P) return Scientific(v, P, negative);
  }

  // Lay the kept digits out on positions: integer part exp10 digits long.
  std::string intPart, fracPart;
  const int intLen = r.d.empty() ? 0 : r.exp10;
  for (int pos = 0; pos < intLen; ++pos)
    intPart += pos < static_cast<int>(r.d.size()) ? r.d[static_cast<std::size_t>(pos)] : '0';
  if (intPart.empty()) intPart = "0";
  for (int k = 0; k < D; ++k) {
    const int pos = intLen + k;  // index into r.d (may be negative before the first digit)
    char c = '0';
    if (!r.d.empty() && pos >= 0 && pos < static_cast<int>(r.d.size())) c = r.d[static_cast<std::size_t>(pos)];
    fracPart += c;
  }

  std::string out = (negative && !r.d.empty()) ? "-" : "";
  out += intPart;
  if (D > 0) out += "," + fracPart;
  return out;
}

StatusDisplay AlarmState(int status) {
  const int bit0 = status & 1;
  const int bit1 = (status >> 1) & 1;
  StatusDisplay s;
  s.digits = std::to_string(bit1) + std::to_string(bit0);
  s.fault = bit0 || bit1;
  s.text = s.fault ? "Нарушение" : "     Норма";
  s.colour = s.fault ? kRed : kTeal;
  return s;
}

StatusDisplay MeasurementState(int status) {
  const int bit5 = (status >> 5) & 1;
  const int bit6 = (status >> 6) & 1;
  const int bit7 = (status >> 7) & 1;
  StatusDisplay s;
  s.digits = std::to_string(bit7) + std::to_string(bit6) + std::to_string(bit5);
  s.fault = bit5 || bit6 || bit7;
  s.text = s.fault ? "Переполнение" : "       Норма";
  s.colour = s.fault ? kRed : kTeal;
  return s;
}

bool ColdJunctionValid(int kodTxc, int txc) {
  return kodTxc != 32767 && kodTxc != -32768 && txc != -32768;
}

}  // namespace pmdev
