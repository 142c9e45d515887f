#pragma once
// What an instrument's input carries for the result the window shows after
// a read: the signal by the program's own reference tables (the ЗЕТ-ТП's
// input terminals are its cold junction, as with copper wires), and the ADC
// code that signal has on the instrument's stored scale. The screenshots
// give these to the simulator, so that the numbers of a picture agree with
// one another.

#include <optional>
#include <string>
#include <vector>

#include "ProgPM.h"

namespace sim {
class Instrument;
}

struct ShotInput {
  double signal = 0;  // Ω, mV or mA at the input ("Rt, Ом", "Et, mV")
  int kodAcp = 0;     // "Текущий код АЦП"
};

// Nothing when the sensor has no reference table or the result lies
// outside it.
std::optional<ShotInput> InputOfReading(const TProgPMClass& pm, const std::vector<std::string>& tableDirs);

// Gives the instrument whose last read `pm` holds the input of that read:
// its fixed measurement takes the ADC code, its register the signal. False
// when there is none to give; the window shows it after the next read.
bool MatchInput(sim::Instrument& in, const TProgPMClass& pm, const std::vector<std::string>& tableDirs);
