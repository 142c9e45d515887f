#pragma once
// An instrument of a watched line as text: the overview's row and pmctl
// watch's line. Units, formats, state texts and colours are the main
// window's. Plain C++.

#include <string>

#include "DisplayFormat.h"
#include "LinePoller.h"

namespace pmline {

struct RowText {
  std::string address;
  std::string model;
  std::string sensor;
  std::string range;
  std::string result;   // "250,00 °C", "12,000 мА"
  std::string percent;  // "25,000"
  std::string state;    // the measurement state, or why there is none ("нет ответа")
  pmdev::Rgb stateColour{0, 0, 0};
  std::string setpoint2;  // the block's first setpoint, under "Уставка 2" as in the window
  std::string setpoint1;
  std::string alarm;      // the alarm state ("Нарушение": the reading is beyond a setpoint)
  pmdev::Rgb alarmColour{0, 0, 0};
  std::string lastGood;   // time of the last good reading
  std::string failures;
  // The reading shown is not the last poll's (the instrument stopped
  // answering, or answers as a model not served): shown in kOldColour,
  // its alarm state without its colour, beside the time it was taken.
  bool old = false;
};

inline constexpr const char* kNoAnswer = "нет ответа";
inline constexpr pmdev::Rgb kOldColour{128, 128, 128};

RowText Describe(const Instrument& in);

// One line of pmctl watch for a poll's outcome: time, address, model, then
// result, %, state and alarm state, tab-separated; a failed poll says why.
std::string WatchLine(const Instrument& in, const pmtrend::ReadOutcome& outcome);

}  // namespace pmline
