#pragma once
// The switches and the output value an instrument takes at once:
//   5   calibration mode on / off (coil 0x1001),
//   5   ЛУНТ output-control mode on / off (coil 0x1002),
//   6   ЛУНТ output value (register 1), from a current in mA.
// Each returns the exchange's result code.

#include "Comportclass.h"

namespace pmops {

int SetCalibrationMode(TComPortClass& link, int deviceIndex, bool on);
int SetOutputControl(TComPortClass& link, int deviceIndex, bool on);
int SendOutputValue(TComPortClass& link, int deviceIndex, double milliamp);

}  // namespace pmops
