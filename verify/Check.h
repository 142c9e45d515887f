#pragma once
// The arithmetic of an accuracy check: the points, the permissible error,
// whether a point's readings have settled, each point's error and verdict
// and the check's. Plain C++; everything here is a function of its
// arguments, so a stored check can be recomputed from its readings.

#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "Signal.h"

namespace pmverify {

// How the permissible error is given.
enum class ToleranceKind {
  Reduced = 0,   // in % of the span
  Absolute = 1,  // in the scale's unit (°C; % for КАРД and ЛУНТ)
};

struct Tolerance {
  ToleranceKind kind = ToleranceKind::Reduced;
  double value = 0.5;
};

// The permissible error in the scale's unit.
double Permissible(const Tolerance& t, double span);
// The permissible error in % of the span.
double PermissibleReduced(const Tolerance& t, double span);
// "±0,5 % диапазона", "±2 °C"
std::string ToleranceText(const Tolerance& t, const Scale& scale);

// Bounds of a check's settings.
inline constexpr int kMaxPoints = 21;
inline constexpr int kMaxReadings = 50;
inline constexpr int kMaxIntervalMs = 60'000;

// `count` points evenly over lo..hi, both ends included.
std::vector<double> DefaultPoints(double lo, double hi, int count = 5);
// "0; 250; 500" (decimal comma; ";" or blanks between) within the scale:
// the points, or the operator's message.
std::variant<std::vector<double>, std::string> ParsePoints(const std::string& text, const Scale& scale);
// "0; 250; 500"
std::string PointsText(const std::vector<double>& points);
// "0,5%" or "0,5" (reduced) and "2C" / "2°C" / "2 °C" (absolute): the
// tolerance, or nothing.
std::optional<Tolerance> ParseTolerance(const std::string& text);

// The readings have settled when they spread at most a quarter of the
// permissible error.
bool Settled(std::span<const double> readings, double permissible);
inline constexpr const char* kNotSettled = "сигнал не установился";

struct PointResult {
  double reference = 0;          // the point, in the scale's unit
  std::vector<double> readings;  // what the instrument measured there
  double mean = 0;
  double error = 0;    // mean − reference, in the scale's unit
  double reduced = 0;  // error in % of the span
  std::optional<double> current;  // the output current measured, mA
  double currentExpected = 0;     // the current the range defines there, mA
  std::optional<double> currentReduced;  // its error in % of the 16 mA span
  bool pass = false;
};

// The output current the range defines at `point`.
double ExpectedCurrent(const Scale& scale, double point);

// One point: its error against the permissible one; a measured output
// current must be within the same reduced error.
PointResult Evaluate(const Scale& scale, const Tolerance& tolerance, double reference, std::vector<double> readings,
                     std::optional<double> current);

struct Verdict {
  bool pass = false;       // every point within the permissible error
  double maxError = 0;     // the largest error by magnitude, with its sign, in the scale's unit
  double maxReduced = 0;   // the same in % of the span
};
Verdict Overall(std::span<const PointResult> points);

// "годен" / "не годен"
std::string VerdictText(bool pass);

}  // namespace pmverify
