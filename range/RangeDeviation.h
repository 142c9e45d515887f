#pragma once
// How far the characteristic an instrument will use departs from the
// reference table over a computed range. The instrument maps the signal
// code (0 at the range start's signal, 8191 at the range end's) through ten
// nodes to a temperature code, linearly between neighbouring nodes; the node
// codes are the whole numbers written to it. Plain C++.

#include <array>
#include <string>
#include <vector>

#include "RangeCalc.h"

namespace pmrange {

struct DeviationPoint {
  double temp;       // table temperature, °C
  double deviation;  // characteristic minus table, °C
};

struct DeviationCurve {
  std::vector<DeviationPoint> points;  // every table point from start to end
  double largest = 0;                  // the deviation of largest magnitude, signed
  double largestAt = 0;                // its table temperature
  double rms = 0;
};

// The node codes as they are written: whole numbers, as the result edits
// show them.
std::array<double, 8> WrittenCodes(const std::array<double, 8>& codes);

// Temperature code of the ten-node characteristic at a signal code.
double CharacteristicCode(const std::array<double, 8>& codes, double signalCode);

// The deviation at each table point of the range the calculator last
// prepared (start and end entries included), for these interior codes.
DeviationCurve CharacteristicDeviation(const RangeCalculator& calc, const std::array<double, 8>& codes);

// "Наибольшее отклонение ..." with the value and temperature, and the rms,
// with the decimal comma.
std::string DeviationText(const DeviationCurve& curve);

}  // namespace pmrange
