#include "RangeDeviation.h"

#include <cmath>
#include <cstdio>

namespace pmrange {

namespace {

constexpr std::array<double, 10> kNodeSignal = {0, 512, 1024, 2048, 3072, 4096, 5120, 6144, 7168, 8191};

std::string Fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  if (s == "-0" || s.find_first_not_of("-0.") == std::string::npos) s.erase(0, s[0] == '-');
  for (char& c : s)
    if (c == '.') c = ',';
  return s;
}

}  // namespace

std::array<double, 8> WrittenCodes(const std::array<double, 8>& codes) {
  std::array<double, 8> out{};
  for (std::size_t k = 0; k < codes.size(); ++k) out[k] = std::round(codes[k]);
  return out;
}

double CharacteristicCode(const std::array<double, 8>& codes, double signalCode) {
  std::array<double, 10> node{};
  node[9] = 8191;
  for (std::size_t k = 0; k < codes.size(); ++k) node[k + 1] = codes[k];
  // The segment holding the signal code; beyond either end the outer
  // segment goes on straight.
  std::size_t s = 0;
  while (s < 8 && signalCode > kNodeSignal[s + 1]) ++s;
  const double slope = (node[s + 1] - node[s]) / (kNodeSignal[s + 1] - kNodeSignal[s]);
  return node[s] + slope * (signalCode - kNodeSignal[s]);
}

DeviationCurve CharacteristicDeviation(const RangeCalculator& calc, const std::array<double, 8>& codes) {
  DeviationCurve curve;
  const RefTable& t = calc.Table();
  const int first = calc.StartIndex(), last = calc.EndIndex();
  const double xs = t.Signal[first], xe = t.Signal[last];
  const double start = calc.RangeStartValue(), width = calc.RangeEndValue() - start;
  if (last <= first || xe == xs || width <= 0) return curve;

  double sumSq = 0;
  for (int j = first; j <= last; ++j) {
    const double signalCode = (t.Signal[j] - xs) / (xe - xs) * 8191;
    const double temp = start + CharacteristicCode(codes, signalCode) / 8191 * width;
    const DeviationPoint p{t.Temp[j], temp - t.Temp[j]};
    curve.points.push_back(p);
    sumSq += p.deviation * p.deviation;
    if (std::fabs(p.deviation) > std::fabs(curve.largest)) {
      curve.largest = p.deviation;
      curve.largestAt = p.temp;
    }
  }
  curve.rms = std::sqrt(sumSq / static_cast<double>(curve.points.size()));
  return curve;
}

std::string DeviationText(const DeviationCurve& curve) {
  return "Наибольшее отклонение " + Fixed(curve.largest, 3) + " °C\nпри " + Fixed(curve.largestAt, curve.largestAt == std::round(curve.largestAt) ? 0 : 1) +
         " °C\nСКО " + Fixed(curve.rms, 3) + " °C";
}

}  // namespace pmrange
