#pragma once
// Axis arithmetic of the small plots: the value span an axis shows and the
// round values its ticks stand at. Plain C++.

#include <vector>

namespace ui {

struct Span {
  double lo = 0;
  double hi = 1;
};

// The span [lo, hi] with `margin` (a share of its width) added at both ends.
// A span of zero width is opened to ±1 % of its value (±1 at zero); NaN or
// infinite ends give [0, 1].
Span PaddedSpan(double lo, double hi, double margin = 0.05);

// Tick values inside [lo, hi] at a step of 1, 2 or 5 × 10^n, chosen so that
// there are at most maxTicks of them (and at least two when the span allows).
std::vector<double> NiceTicks(double lo, double hi, int maxTicks);

// The step NiceTicks uses, for formatting the labels with enough decimals.
double NiceStep(double lo, double hi, int maxTicks);

// Decimals needed to tell ticks of this step apart (0 for steps of 1 and up).
int StepDecimals(double step);

// A step for time ticks, in ms: 1, 2, 5, 10, 15, 30 s, 1, 2, 5, 10, 15,
// 30 min, 1, 2, 3, 6, 12, 24 h, the smallest giving at most maxTicks over
// spanMs.
double TimeStep(double spanMs, int maxTicks);

// Ticks at the multiples of `step` inside [lo, hi].
std::vector<double> TicksAt(double lo, double hi, double step);

}  // namespace ui
