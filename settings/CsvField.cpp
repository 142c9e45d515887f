#include "CsvField.h"

namespace pmset {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits from `at`; where they end.
std::size_t Digits(std::string_view s, std::size_t at) {
  while (at < s.size() && IsDigit(s[at])) ++at;
  return at;
}

// [-]digits[,digits][E(+|-)digits]
bool IsNumber(std::string_view s) {
  std::size_t at = !s.empty() && s[0] == '-' ? 1 : 0;
  std::size_t end = Digits(s, at);
  if (end == at) return false;
  if (end < s.size() && (s[end] == ',' || s[end] == '.')) {
    at = end + 1;
    end = Digits(s, at);
    if (end == at) return false;
  }
  if (end < s.size() && s[end] == 'E') {
    at = end + 1;
    if (at < s.size() && (s[at] == '+' || s[at] == '-')) ++at;
    end = Digits(s, at);
    if (end == at) return false;
  }
  return end == s.size();
}

}  // namespace

std::string CsvTextField(std::string_view text) {
  const bool formula = !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
  if (!formula && text.find_first_of(";\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = formula ? "\"'" : "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

std::string CsvNumberField(std::string_view text) {
  return text.empty() || IsNumber(text) ? std::string(text) : CsvTextField(text);
}

}  // namespace pmset
