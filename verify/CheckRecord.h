#pragma once
// One accuracy check as it is kept: the instrument, its scale and sensor,
// the settings of the check, the reference equipment and conditions, every
// point with every reading, the verdicts, who checked and when. "As found"
// opens a visit; "as left" checks again after the adjustment and belongs to
// the same visit, with the journal's entries of the adjustment in between.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Check.h"
#include "Signal.h"

namespace pmverify {

enum class Stage { AsFound = 1, AsLeft = 2 };
// "как найдено", "как оставлено"
std::string StageText(Stage s);

struct Equipment {
  std::string name;         // "Калибратор-измеритель ..."
  std::string serial;       // its serial number
  std::string certificate;  // certificate or registry record of its calibration
  std::string validUntil;   // "2027-03-01"
  bool operator==(const Equipment&) const = default;
};

struct Conditions {
  std::string ambient;   // °C, as typed
  std::string humidity;  // %, as typed
  bool operator==(const Conditions&) const = default;
};

// The settings an operator chooses for a check.
struct Setup {
  std::vector<double> points;
  Tolerance tolerance;
  int readings = 5;
  int intervalMs = 1000;
  ColdJunction coldJunction = ColdJunction::Compensated;
  Equipment equipment;
  Conditions conditions;
};

struct PointRecord {
  PointResult result;
  Signal signal;        // what the operator was told to apply
  std::string applied;  // what he says he applied, where the program could not compute it
};

struct CheckRecord {
  std::int64_t id = 0;
  std::int64_t visit = 0;  // as left: the id of the visit's as-found check; as found: 0
  Stage stage = Stage::AsFound;
  std::int64_t atMs = 0;  // milliseconds since 1970 (UTC)
  std::string at;         // local time with its UTC offset
  std::string port;
  int address = 0;
  std::string identification;
  Scale scale;
  Setup setup;
  std::string user, fullName, host, program;
  std::vector<PointRecord> points;
  Verdict verdict;
  // The journal's entries of this instrument between the as-found check and
  // this one (as left): the adjustment.
  std::vector<std::int64_t> adjustments;
};

}  // namespace pmverify
