// One full non-standard range calculation on the generated reference tables:
// median time, ApproxError evaluations, and how far the pattern search ends
// from the exact least-squares minimum of the same objective (which is
// quadratic in the eight node temperatures).

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "RangeCalc.h"
#include "ScriptedMessageService.h"

namespace {

// Solves the normal equations of the fit for the prepared range.
std::array<double, 8> ExactMinimum(const pmrange::RangeCalculator& calc) {
  const auto& t = calc.Table();
  const auto& X = calc.NodeSignals();
  double ata[8][8] = {};
  double atb[8] = {};
  for (const auto& p : calc.Walk()) {
    const int s = p.segment;
    const double u = (t.Signal[p.entry] - X[s]) / (X[s + 1] - X[s]);
    double row[8] = {};
    double rhs = t.Temp[p.entry];
    if (s == 0) rhs -= calc.RangeStartValue() * (1 - u);
    else row[s - 1] += 1 - u;
    if (s + 1 == 9) rhs -= calc.RangeEndValue() * u;
    else row[s] += u;
    for (int a = 0; a < 8; ++a) {
      atb[a] += row[a] * rhs;
      for (int b = 0; b < 8; ++b) ata[a][b] += row[a] * row[b];
    }
  }
  // Gaussian elimination with partial pivoting.
  for (int c = 0; c < 8; ++c) {
    int piv = c;
    for (int r = c + 1; r < 8; ++r)
      if (std::fabs(ata[r][c]) > std::fabs(ata[piv][c])) piv = r;
    std::swap(ata[c], ata[piv]);
    std::swap(atb[c], atb[piv]);
    for (int r = c + 1; r < 8; ++r) {
      const double f = ata[r][c] / ata[c][c];
      for (int k = c; k < 8; ++k) ata[r][k] -= f * ata[c][k];
      atb[r] -= f * atb[c];
    }
  }
  std::array<double, 8> y{};
  for (int r = 7; r >= 0; --r) {
    double s = atb[r];
    for (int k = r + 1; k < 8; ++k) s -= ata[r][k] * y[k];
    y[r] = s / ata[r][r];
  }
  return y;
}

int Run(const char* sensor, double start, double end) {
  ui::ScriptedMessageService msg;
  pmrange::RangeCalculator calc(msg);
#ifdef PM_BUILD_DATA_DIR
  calc.tableDirs = {"", PM_BUILD_DATA_DIR};
#endif
  constexpr int kRuns = 15;
  std::vector<double> ms;
  std::array<double, 8> codes{};
  long evaluations = 0;
  for (int r = 0; r < kRuns; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    auto result = calc.CalcNonStandardRange(sensor, start, end, {});
    const auto t1 = std::chrono::steady_clock::now();
    if (!result) {
      std::printf("%s %g..%g: refused: %s\n", sensor, start, end, msg.shown.empty() ? "" : msg.Last().text.c_str());
      return 1;
    }
    codes = *result;
    evaluations = calc.evaluations;
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  std::sort(ms.begin(), ms.end());

  const double fSearch = calc.FittedError();
  const std::array<double, 8> yExact = ExactMinimum(calc);
  const double fExact = calc.ApproxError(yExact.data());
  double maxDiff = 0;
  for (int k = 0; k < 8; ++k) maxDiff = std::max(maxDiff, std::fabs(calc.FittedTemps()[k] - yExact[k]));
  const auto points = calc.Walk().size();

  std::printf("%s %g..%g °C, %zu table points\n", sensor, start, end, points);
  std::printf("  median time        %.3f ms (of %d runs)\n", ms[ms.size() / 2], kRuns);
  std::printf("  ApproxError calls  %ld\n", evaluations);
  std::printf("  node codes        ");
  for (double c : codes) std::printf(" %.3f", c);
  std::printf("\n  final error        %.12e °C² (rms %.4f °C)\n", fSearch, std::sqrt(fSearch / double(points)));
  std::printf("  exact minimum      %.12e °C²\n", fExact);
  std::printf("  gap                %.3e °C² (relative %.3e), largest node difference %.3e °C\n", fSearch - fExact,
              (fSearch - fExact) / fExact, maxDiff);
  return 0;
}

}  // namespace

int main() {
  int rc = 0;
  rc |= Run("Pt100", 0, 640);
  rc |= Run("XA(K)", 0, 1050);
  return rc;
}
