#pragma once
// Reference tables of the sensor types and the fit of a non-standard range:
// ten nodes of a piecewise-linear characteristic from signal code to
// temperature code, the eight interior ones found by least squares over the
// table points inside the range.  Plain C++; the operator is told about a
// refused calculation through the message service.

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "MessageService.h"
#include "RangeRow.h"

namespace pmrange {

// Entries a table can hold; reading stops after this many.
constexpr int kMaxEntries = 2775;

// Signal codes of the eight interior nodes (full scale 8191).
inline constexpr std::array<double, 8> kNodePos = {512, 1024, 2048, 3072, 4096, 5120, 6144, 7168};

struct SensorInfo {
  std::string_view sensor;  // text of the sensor selector, compared exactly
  std::string_view file;
  float minRangeWidth;      // °C
};

// The sensor types that have a reference table; nullptr for any other text.
const SensorInfo* FindSensor(std::string_view sensorText);

// The table in memory.  Entries beyond Count keep what an earlier load left.
struct RefTable {
  std::array<double, kMaxEntries> Temp{};
  std::array<double, kMaxEntries> Signal{};
  int Count = 0;
};

enum class LoadStatus {
  Ok,
  CannotOpen,    // unknown sensor or file not found
  Malformed,     // a non-number, or the file ends before its marker
  TooFew,        // fewer than four entries
  NotIncreasing  // a temperature or a signal does not rise from entry to entry
};

// Folders searched for a table file, in order; "" is the working folder.
// The default is the working folder, then the installed data folder.
std::vector<std::string> DefaultTableDirs();

// The first of dirs that holds a reference table file ("" for the working
// folder), or nothing when none does.
std::optional<std::string> TableDirInUse(const std::vector<std::string>& dirs);

// Parses the text of a table file into t (from index 0).
LoadStatus ParseRefTable(std::string_view text, RefTable& t);

// Reads the table of a sensor type from the first of dirs that holds its
// file ("" is the working folder); `path`, when given, receives that file's
// full path (empty when no folder holds it).
LoadStatus LoadTableFile(const std::vector<std::string>& dirs, std::string_view sensorText, RefTable& t,
                         std::string* path = nullptr);

// One table point taken by the fit: its entry and the segment (0..8) it
// belongs to.
struct WalkPoint {
  int entry;
  int segment;
};

class RangeCalculator {
 public:
  explicit RangeCalculator(ui::MessageService& messages);

  // Reads the table of the sensor type; the file is looked up in tableDirs.
  LoadStatus LoadRefTable(std::string_view sensorText);

  // The whole calculation.  A refusal has been reported when it returns
  // nothing; the eight node codes otherwise.
  std::optional<std::array<double, 8>> CalcNonStandardRange(std::string_view sensorText, double rangeStart,
                                                            double rangeEnd,
                                                            std::span<const pmdev::RangeRow> stdRanges);

  // Sum of squared temperature deviations of the characteristic with the
  // interior node temperatures y[0..7] at the table points inside the range.
  double ApproxError(const double* y);

  // Coordinate search with step doubling and a line search along the
  // direction of progress; improves y in place, fBest follows.
  void PatternSearch(double* y, double& fBest, int n, double h, double hMin);

  // Scales v to unit length in place (largest component first, then a fixed
  // number of Heron steps for the square root).
  static void NormalizeDir(double* v, int n);

  // The points ApproxError walks, segment by segment, for the prepared range.
  std::vector<WalkPoint> Walk() const;

  const RefTable& Table() const { return table_; }
  // The full path of the file the last table was read from; empty when no
  // folder held it.
  const std::string& TablePath() const { return tablePath_; }
  // Prepared by CalcNonStandardRange before the fit.
  int StartIndex() const { return startIndex_; }
  int EndIndex() const { return endIndex_; }
  const std::array<double, 10>& NodeSignals() const { return nodeX_; }  // Xs, x[0..7], Xe
  double RangeStartValue() const { return rangeStart_; }
  double RangeEndValue() const { return rangeEnd_; }
  // Node temperatures and ApproxError at the end of the last fit.
  const std::array<double, 8>& FittedTemps() const { return fitY_; }
  double FittedError() const { return fitError_; }

  std::vector<std::string> tableDirs;  // searched in order; "" = working folder
  long evaluations = 0;                // ApproxError calls since the last calculation started

 private:
  std::nullopt_t Refuse(const std::string& text);
  bool WalkFits() const;

  ui::MessageService& msg_;
  RefTable table_;
  std::string fileName_;
  std::string tablePath_;
  int startIndex_ = 0;
  int endIndex_ = 0;
  double rangeStart_ = 0;
  double rangeEnd_ = 0;
  std::array<double, 10> nodeX_{};
  std::array<double, 8> fitY_{};
  double fitError_ = 0;
};

}  // namespace pmrange
