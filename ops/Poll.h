#pragma once
// One poll of an instrument on a line that is watched as a whole: its
// identity, parameter block and measurement (functions 17, 68, 71, as a
// read starts), so that a changed sensor, range or setpoint shows at the
// next poll. Nothing that changes an instrument is sent: not even the
// ЛУНТ's output-control switch a read of the window may send.

#include "Comportclass.h"
#include "ProgPM.h"
#include "Read.h"

namespace pmops {

// Polls the instrument at address deviceIndex + 1 into pm with `attempts`
// attempts for each request, in either stage (0: the link's own counts). On completion pm holds the
// block and measurement, TMin/TMax of its range, and DataRead = 1.
ReadOutcome Poll(TComPortClass& link, TProgPMClass& pm, int deviceIndex, int attempts = 0);

}  // namespace pmops
