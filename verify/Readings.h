#pragma once
// The check's steps on the line, for the window and pmctl alike: the
// instrument read once for its scale, sensor and identity, and the
// readings of a point taken with the poll the trend and the line overview
// use (functions 17, 68, 71), so nothing is sent that could change the
// instrument. Failures are reported through the link's message service in
// the window's words.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Comportclass.h"
#include "Signal.h"

namespace pmverify {

struct InstrumentRead {
  bool ok = false;
  Scale scale;
  std::string identification;  // "ЗЕТ-ТП-v6, датчик XA(K), 0…1100 °C"
  std::optional<double> coldJunction;  // ЗЕТ-ТП with a valid reading, °C
};

// Reads the instrument at deviceIndex (0..31); a failure has been reported
// when ok is false.
InstrumentRead ReadInstrument(TComPortClass& link, ui::MessageService& messages, int deviceIndex);

struct Taken {
  bool ok = false;                      // every reading came; else reported
  std::vector<double> readings;         // in the scale's unit
  std::optional<double> coldJunction;   // the last one read
};

// `count` readings, `intervalMs` apart (the link's pause). `progress` is
// told each reading as it comes.
Taken TakeReadings(TComPortClass& link, ui::MessageService& messages, int deviceIndex, int count, int intervalMs,
                   const std::function<void(int done)>& progress = {});

}  // namespace pmverify
