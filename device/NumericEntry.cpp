#include "NumericEntry.h"

#include <charconv>
#include <string>
#include <vector>

namespace pmdev {

namespace {

// Splits UTF-8 text into its first `limit` characters (each as its bytes).
std::vector<std::string_view> FirstChars(std::string_view text, std::size_t limit) {
  std::vector<std::string_view> chars;
  std::size_t i = 0;
  while (i < text.size() && chars.size() < limit) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t len = 1;
    if (lead >= 0xF0) len = 4;
    else if (lead >= 0xE0) len = 3;
    else if (lead >= 0xC0) len = 2;
    if (i + len > text.size()) len = text.size() - i;
    chars.push_back(text.substr(i, len));
    i += len;
  }
  return chars;
}

bool InBounds(double v, int kind, float tmin, float tmax) {
  switch (kind) {
    case kRangeTMinTMax: return v >= tmin && v <= tmax;
    case kRangePercent: return v >= 0 && v <= 100;
    case kRangeKTxc: return v >= 0 && v <= 9999;
    case kRangeMilliamp: return v >= 0 && v <= 20;
    default: return true;
  }
}

bool IsDigitKey(int vk) { return (vk >= 0x30 && vk <= 0x39) || (vk >= 0x60 && vk <= 0x69); }

// Backspace, Delete, Shift, Ctrl, Left, Right, Num Lock, Caps Lock.
bool IsEditingKey(int vk) {
  switch (vk) {
    case 0x08: case 0x2E: case 0x10: case 0x11: case 0x25: case 0x27: case 0x90: case 0x14:
      return true;
    default:
      return false;
  }
}

constexpr int kVkEnter = 0x0D;

}  // namespace

std::optional<double> ParseTypedNumber(std::string_view text) {
  std::string plain;
  std::size_t i = 0;
  if (i < text.size() && text[i] == '-') plain += text[i++];
  bool digits = false, comma = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = true;
      plain += c;
    } else if (c == ',' && !comma) {
      comma = true;
      plain += '.';
    } else {
      return std::nullopt;
    }
  }
  if (!digits || (comma && plain.back() == '.')) return std::nullopt;
  double value = 0;
  const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (ec != std::errc{} || end != plain.data() + plain.size()) return std::nullopt;
  return value;
}

int CheckNumber(std::string_view text, int kind, float tmin, float tmax) {
  if (text.empty()) return 1;

  const auto chars = FirstChars(text, 7);
  int commas = 0;
  for (auto c : chars) commas += (c == ",");
  if (commas > 1 || (commas == 1 && text.back() == ',')) return 1;

  for (auto c : chars)
    if (c == "б" || c == "Б" || c == "?") return 1;

  int minuses = 0;
  for (std::size_t k = 0; k < chars.size(); ++k) {
    if (chars[k] == "-") {
      ++minuses;
      if (k != 0) return 1;
    }
  }
  if (minuses > 1 || text == "-") return 1;

  const auto value = ParseTypedNumber(text);
  if (!value || !InBounds(*value, kind, tmin, tmax)) return 1;
  return 0;
}

int DecKeyFilter(bool fieldEmpty, int vkCode, bool shift) {
  if (vkCode == kVkEnter) return fieldEmpty ? kKeyRejected : kKeyEnter;
  if (IsDigitKey(vkCode)) return shift ? kKeyRejected : kKeyAccepted;
  if (IsEditingKey(vkCode)) return kKeyAccepted;
  switch (vkCode) {
    case 0x6E:  // numeric-pad decimal point
    case 0x6D:  // numeric-pad minus
      return kKeyAccepted;
    case 0xBC:  // comma key
    case 0xBD:  // minus key
      return shift ? kKeyRejected : kKeyAccepted;
    case 0xBF:  // slash key, accepted with Shift only
      return shift ? kKeyAccepted : kKeyRejected;
    default:
      return kKeyRejected;
  }
}

int IntKeyFilter(bool fieldEmpty, int vkCode) {
  if (vkCode == kVkEnter) return fieldEmpty ? kKeyRejected : kKeyEnter;
  if (IsDigitKey(vkCode) || IsEditingKey(vkCode)) return kKeyAccepted;
  return kKeyRejected;
}

}  // namespace pmdev
