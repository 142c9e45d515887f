#include "Addresses.h"

#include <algorithm>
#include <cctype>

namespace pmline {

namespace {

constexpr int kFirst = 1, kLast = 32;

bool IsDash(const std::string& s, std::size_t i) {
  if (s[i] == '-') return true;
  // An en dash typed or pasted: E2 80 93.
  return s.compare(i, 3, "\xE2\x80\x93") == 0;
}

// What of the operator's text a message repeats: its start, cut after
// kEchoMax characters (a whole UTF-8 character at the cut). A character is
// at most 4 bytes, however many continuation bytes text that is not UTF-8
// strings together.
constexpr std::size_t kEchoMax = 40;
std::string Echo(const std::string& text) {
  std::size_t end = 0, chars = 0;
  while (end < text.size() && chars < kEchoMax) {
    const std::size_t last = std::min(text.size(), end + 4);
    ++end;
    while (end < last && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    ++chars;
  }
  return end < text.size() ? text.substr(0, end) + "…" : text;
}

}  // namespace

std::variant<std::vector<int>, std::string> ParseAddresses(const std::string& text) {
  std::vector<bool> chosen(kLast + 1, false);
  std::size_t i = 0;
  auto blanks = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',' || text[i] == ';')) ++i;
  };
  auto number = [&]() -> int {
    int v = 0, digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])) && digits < 3) {
      v = v * 10 + (text[i++] - '0');
      ++digits;
    }
    return digits == 0 || (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ? -1 : v;
  };
  const std::string bounds = "адреса от 1 до 32";
  blanks();
  if (i == text.size()) return "Не заданы адреса приборов (например: 1-8, 12)";
  while (i < text.size()) {
    const std::size_t at = i;
    if (IsDash(text, i)) return "Неверный диапазон в \"" + Echo(text.substr(at)) + "\": не указан первый адрес; " + bounds;
    const int from = number();
    if (from < 0) return "Неверный адрес в \"" + Echo(text.substr(at)) + "\": " + bounds;
    int to = from;
    const std::size_t afterNumber = i;
    while (i < text.size() && text[i] == ' ') ++i;
    if (i >= text.size() || !IsDash(text, i)) i = afterNumber;
    if (i < text.size() && IsDash(text, i)) {
      i += text[i] == '-' ? 1 : 3;
      while (i < text.size() && text[i] == ' ') ++i;
      to = number();
      if (to < 0) return "Неверный диапазон в \"" + Echo(text.substr(at)) + "\": " + bounds;
    }
    if (from < kFirst || to > kLast || from > to)
      return "Неверный диапазон " + std::to_string(from) + (from == to ? "" : "-" + std::to_string(to)) + ": " + bounds;
    for (int a = from; a <= to; ++a) chosen[static_cast<std::size_t>(a)] = true;
    const std::size_t before = i;
    blanks();
    if (i == before && i < text.size()) return "Неверный адрес в \"" + Echo(text.substr(at)) + "\": " + bounds;
  }
  std::vector<int> out;
  for (int a = kFirst; a <= kLast; ++a)
    if (chosen[static_cast<std::size_t>(a)]) out.push_back(a);
  return out;
}

std::string AddressesText(const std::vector<int>& addresses) {
  std::vector<int> a = addresses;
  std::sort(a.begin(), a.end());
  a.erase(std::unique(a.begin(), a.end()), a.end());
  std::string out;
  for (std::size_t i = 0; i < a.size();) {
    std::size_t j = i;
    while (j + 1 < a.size() && a[j + 1] == a[j] + 1) ++j;
    if (!out.empty()) out += ", ";
    out += std::to_string(a[i]);
    if (j > i) out += (j == i + 1 ? ", " : "-") + std::to_string(a[j]);
    i = j + 1;
  }
  return out;
}

}  // namespace pmline
