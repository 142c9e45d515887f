#pragma once
// Wiring pictures of the user's guide, drawn rather than photographed: the
// RS-485 line from the computer to the instruments, and the calibrator's
// connections for a calibration or an accuracy check.

#include <QImage>

// The converter, the daisy-chained instruments on the twisted pair, the two
// terminators and the screen grounded at one point.
QImage LineWiring();
// A thermocouple input and a resistance input fed by the calibrator, and the
// 4–20 mA output measured in its loop.
QImage CalibratorWiring();
