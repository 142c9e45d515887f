#pragma once
// One read of the instrument shown, as the trend and the recording keep it:
// the result in the units of the window's "Результат" (mA for КАРД and ЛУНТ,
// °C for the ЗЕТ models), the setpoints in the same units, and the raw codes
// and states behind them. Plain C++.

#include <cstdint>
#include <optional>
#include <string>

class TProgPMClass;

namespace pmtrend {

// Milliseconds since the epoch, system clock.
using Millis = std::int64_t;

Millis NowMillis();

// Which instrument a reading came from.
struct Source {
  std::string port;
  int address = 0;  // 1..32
  int model = 0;    // model code
  bool operator==(const Source&) const = default;
};

struct Reading {
  Millis time = 0;
  Source source;
  double value = 0;       // result in unit
  std::string unit;       // "мА" or "°C"
  std::string valueText;  // as the window shows it
  std::string percentText;
  int rez = 0;     // result code
  int adc = 0;     // ADC code
  int status = 0;  // status byte
  bool alarm = false;
  bool overflow = false;
  std::optional<double> setpoint1, setpoint2;  // in unit; none where the model has no alarms
  std::optional<std::string> coldJunctionText;  // ЗЕТ-ТП with a valid reading
};

// The end of one read of the instrument shown: the reading when it
// completed; otherwise only which instrument and when.
struct ReadOutcome {
  bool ok = false;
  Source source;
  Millis time = 0;
  Reading reading;  // valid when ok
};

// The reading the parameter image holds after a complete read.
Reading ReadingFromImage(const TProgPMClass& pm, const std::string& port, int address, Millis time);

// "1: КАРД, /dev/ttyUSB0"
std::string Legend(const Source& s);

}  // namespace pmtrend
