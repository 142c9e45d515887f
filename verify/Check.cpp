#include "Check.h"

#include <algorithm>
#include <cmath>

#include "NumericEntry.h"

namespace pmverify {

namespace {

// Rounding of the stored numbers must not turn a limit case into a failure.
constexpr double kSlack = 1e-9;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  std::size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  return text.substr(start);
}

// A number typed with a decimal comma (or point).
std::optional<double> Typed(std::string text) {
  std::replace(text.begin(), text.end(), '.', ',');
  return pmdev::ParseTypedNumber(Trimmed(text));
}

}  // namespace

double Permissible(const Tolerance& t, double span) {
  return t.kind == ToleranceKind::Reduced ? t.value * std::fabs(span) / 100 : t.value;
}

double PermissibleReduced(const Tolerance& t, double span) {
  return t.kind == ToleranceKind::Reduced ? t.value : (span != 0 ? t.value * 100 / std::fabs(span) : 0);
}

std::string ToleranceText(const Tolerance& t, const Scale& scale) {
  if (t.kind == ToleranceKind::Reduced) return "±" + Short(t.value, 3) + " % диапазона";
  return "±" + Short(t.value, 3) + " " + scale.Unit();
}

std::vector<double> DefaultPoints(double lo, double hi, int count) {
  std::vector<double> points;
  if (count < 2) return {lo};
  for (int i = 0; i < count; ++i) points.push_back(lo + (hi - lo) * i / (count - 1));
  return points;
}

std::variant<std::vector<double>, std::string> ParsePoints(const std::string& text, const Scale& scale) {
  std::vector<double> points;
  std::string field;
  auto take = [&]() -> std::optional<std::string> {
    const std::string t = Trimmed(field);
    field.clear();
    if (t.empty()) return std::nullopt;
    const std::optional<double> v = Typed(t);
    if (!v) return "Точка проверки «" + t + "» - не число.";
    const double lo = std::min(scale.lo, scale.hi), hi = std::max(scale.lo, scale.hi);
    if (*v < lo || *v > hi)
      return "Точка проверки " + Short(*v, 2) + " вне диапазона " + Short(lo, 2) + "…" + Short(hi, 2) + " " +
             scale.Unit() + ".";
    if (points.size() >= static_cast<std::size_t>(kMaxPoints))
      return "Точек проверки больше " + std::to_string(kMaxPoints) + ".";
    points.push_back(*v);
    return std::nullopt;
  };
  for (char c : text + ";") {
    if (c == ';' || c == ' ' || c == '\n') {
      if (auto why = take()) return *why;
    } else {
      field += c;
    }
  }
  if (points.empty()) return std::string("Не заданы точки проверки.");
  return points;
}

std::string PointsText(const std::vector<double>& points) {
  std::string text;
  for (double p : points) text += (text.empty() ? "" : "; ") + Short(p, 2);
  return text;
}

std::optional<Tolerance> ParseTolerance(const std::string& input) {
  std::string text = Trimmed(input);
  Tolerance t;
  for (const char* suffix : {"°C", "°С", "C", "С"}) {
    const std::string s = suffix;
    if (text.size() > s.size() && text.compare(text.size() - s.size(), s.size(), s) == 0) {
      t.kind = ToleranceKind::Absolute;
      text.resize(text.size() - s.size());
      break;
    }
  }
  if (t.kind == ToleranceKind::Reduced && !text.empty() && text.back() == '%') text.pop_back();
  const std::optional<double> v = Typed(text);
  if (!v || !(*v > 0) || *v > 1000) return std::nullopt;
  t.value = *v;
  return t;
}

bool Settled(std::span<const double> readings, double permissible) {
  if (readings.empty()) return false;
  const auto [lo, hi] = std::minmax_element(readings.begin(), readings.end());
  return *hi - *lo <= permissible / 4 + kSlack;
}

double ExpectedCurrent(const Scale& scale, double point) {
  const double span = scale.Span();
  return 4 + 16 * (span != 0 ? (point - scale.lo) / span : 0);
}

PointResult Evaluate(const Scale& scale, const Tolerance& tolerance, double reference, std::vector<double> readings,
                     std::optional<double> current) {
  PointResult r;
  r.reference = reference;
  r.readings = std::move(readings);
  double sum = 0;
  for (double v : r.readings) sum += v;
  r.mean = r.readings.empty() ? 0 : sum / static_cast<double>(r.readings.size());
  const double span = scale.Span();
  r.error = r.mean - reference;
  r.reduced = span != 0 ? r.error * 100 / std::fabs(span) : 0;
  r.pass = !r.readings.empty() && std::fabs(r.error) <= Permissible(tolerance, span) + kSlack;
  r.currentExpected = ExpectedCurrent(scale, reference);
  if (current) {
    r.current = current;
    r.currentReduced = (*current - r.currentExpected) * 100 / 16;
    r.pass = r.pass && std::fabs(*r.currentReduced) <= PermissibleReduced(tolerance, span) + kSlack;
  }
  return r;
}

Verdict Overall(std::span<const PointResult> points) {
  Verdict v;
  v.pass = !points.empty();
  for (const PointResult& p : points) {
    v.pass = v.pass && p.pass;
    if (std::fabs(p.error) > std::fabs(v.maxError)) {
      v.maxError = p.error;
      v.maxReduced = p.reduced;
    }
  }
  return v;
}

std::string VerdictText(bool pass) { return pass ? "годен" : "не годен"; }

}  // namespace pmverify
