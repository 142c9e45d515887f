// The read of the selected instrument (F9, the polling timer, and the
// commands that change an instrument and show it again).

#include <cstdint>

#include "Obr_pm.h"

void TForm1::InPortClick() {
  std::uint8_t data[40] = {};
  std::uint8_t reply[100] = {};

  // Identification.
  const int result = Link.Request(Serv.DeviceIndex, 17, 0, data, reply, sizeof reply);
  if (result != rc::Ok) {
    if (TimerRunning()) BtnPuskTimerClick();  // also turns ReportErrors back on
    if (ReportErrors == 1) Link.ReportError(Serv.DeviceIndex, result);
    return;
  }
  // The parameter block, the measurement and the window layout follow here.
}
