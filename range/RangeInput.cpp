#include "RangeInput.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace pmrange {

KeyResult RangeKeyFilter(int key, bool shift, bool textEmpty) {
  if ((key >= 0x30 && key <= 0x39) || (key >= 0x60 && key <= 0x69))
    return shift ? KeyResult::Rejected : KeyResult::Accepted;
  switch (key) {
    case 0x08: case 0x2E: case 0x10: case 0x11: case 0x25: case 0x27: case 0x90: case 0x14:  // editing keys
    case 0x6E: case 0x6D:                                                                    // keypad . and -
      return KeyResult::Accepted;
    case 0xBC: case 0xBD:  // comma, minus
      return shift ? KeyResult::Rejected : KeyResult::Accepted;
    case 0xBF:  // slash
      return shift ? KeyResult::Accepted : KeyResult::Rejected;
    case 0x0D:
      return textEmpty ? KeyResult::Rejected : KeyResult::Enter;
    default:
      return KeyResult::Rejected;
  }
}

namespace {

// Decodes UTF-8; an invalid byte becomes U+FFFD, which no rule accepts.
std::u32string Decode(std::string_view s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > s.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t cp = len == 1 ? c : c & (0x7F >> len);
    bool ok = true;
    for (int k = 1; k < len; ++k) {
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc >> 6) != 0x2) ok = false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    out.push_back(ok ? cp : 0xFFFD);
    i += ok ? len : 1;
  }
  return out;
}

}  // namespace

std::optional<double> CheckRangeText(std::string_view utf8) {
  const std::u32string text = Decode(utf8);
  if (text.empty()) return std::nullopt;
  const std::size_t head = text.size() < 7 ? text.size() : 7;

  int commas = 0, minuses = 0;
  std::size_t lastComma = 0;
  for (std::size_t i = 0; i < head; ++i) {
    const char32_t c = text[i];
    if (c == U',') ++commas, lastComma = i;
    if (c == U'б' || c == U'Б' || c == U'?') return std::nullopt;
    if (c == U'-') {
      ++minuses;
      if (i != 0) return std::nullopt;
    }
  }
  if (commas > 1 || (commas == 1 && lastComma == text.size() - 1)) return std::nullopt;
  if (minuses > 1 || (minuses == 1 && text.size() == 1)) return std::nullopt;

  // The number itself: an optional minus, digits, at most one comma.
  std::string ascii;
  std::size_t digits = 0, seps = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c >= U'0' && c <= U'9') {
      ascii.push_back(static_cast<char>(c));
      ++digits;
    } else if (c == U',' && seps == 0) {
      ascii.push_back('.');
      ++seps;
    } else if (c == U'-' && i == 0) {
      ascii.push_back('-');
    } else {
      return std::nullopt;  // not a number (a letter, a point, a blank ...)
    }
  }
  if (digits == 0) return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (ec != std::errc() || end != ascii.data() + ascii.size()) return std::nullopt;
  if (value > 32767 || value < -32767) return std::nullopt;
  return value;
}

std::string FormatRangeValue(double value) {
  if (value == 0) value = 0;  // no "-0"
  // Room for the fixed form of any double (a tiny accepted value such as
  // 1e-70 has seventy digits after the comma; the longest, subnormals and
  // values near the largest double, about 330 characters).
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  std::string s = ec == std::errc() ? std::string(buf, end) : std::string("0");
  for (char& c : s)
    if (c == '.') c = ',';
  return s;
}

std::string FormatNodeCode(double value) {
  const double r = std::round(value);  // halves away from zero
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.0f", r == 0 ? 0.0 : r);
  return buf;
}

}  // namespace pmrange
