#include "PlotScale.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace ui {

Span PaddedSpan(double lo, double hi, double margin) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) return {0, 1};
  if (lo > hi) std::swap(lo, hi);
  if (hi == lo) {
    const double half = lo == 0 ? 1.0 : std::fabs(lo) * 0.01;
    return {lo - half, hi + half};
  }
  const double pad = (hi - lo) * margin;
  return {lo - pad, hi + pad};
}

double NiceStep(double lo, double hi, int maxTicks) {
  const double width = hi - lo;
  if (!(width > 0) || !std::isfinite(width) || maxTicks < 2) return 0;
  const double rough = width / (maxTicks - 1);
  const double decade = std::pow(10.0, std::floor(std::log10(rough)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    const double step = m * decade;
    // Ticks at multiples of step inside [lo, hi].
    const double count = std::floor(hi / step) - std::ceil(lo / step) + 1;
    if (count <= maxTicks) return step;
  }
  return 10 * decade;
}

std::vector<double> NiceTicks(double lo, double hi, int maxTicks) {
  return TicksAt(lo, hi, NiceStep(lo, hi, maxTicks));
}

std::vector<double> TicksAt(double lo, double hi, double step) {
  std::vector<double> ticks;
  if (!(step > 0) || !(hi >= lo)) return ticks;
  const double first = std::ceil(lo / step);
  const double last = std::floor(hi / step);
  for (double k = first; k <= last; ++k) {
    const double v = k * step;
    ticks.push_back(v == 0 ? 0.0 : v);  // no "-0"
  }
  return ticks;
}

double TimeStep(double spanMs, int maxTicks) {
  constexpr double s = 1000, m = 60 * s, h = 60 * m;
  const double steps[] = {1 * s, 2 * s, 5 * s, 10 * s, 15 * s, 30 * s, 1 * m, 2 * m, 5 * m, 10 * m,
                          15 * m, 30 * m, 1 * h, 2 * h, 3 * h, 6 * h, 12 * h, 24 * h};
  for (double step : steps)
    if (spanMs / step + 1 <= maxTicks) return step;
  return steps[std::size(steps) - 1] * std::ceil(spanMs / (steps[std::size(steps) - 1] * (maxTicks - 1)));
}

int StepDecimals(double step) {
  if (!(step > 0) || step >= 1) return 0;
  return static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
}

}  // namespace ui
