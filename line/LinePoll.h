#pragma once
// One step of watching a line: the next instrument due is polled on the
// link (ops/Poll.h) and its outcome taken into the poller. The window and
// pmctl watch both run their polling through this.

#include <cstdint>
#include <functional>
#include <optional>

#include "Comportclass.h"
#include "LinePoller.h"
#include "Reading.h"

namespace pmline {

struct Clocks {
  std::int64_t steadyMs = 0;    // for the cycle accounting
  pmtrend::Millis wallMs = 0;   // the reading's time stamp
};

// Nothing when no instrument is due (an empty line, or the poll would begin
// cycle cycleLimit + 1; 0: no limit). `clock` is asked once before the poll
// and once after it.
std::optional<pmtrend::ReadOutcome> PollNext(LinePoller& poller, TComPortClass& link, const std::function<Clocks()>& clock,
                                            long cycleLimit = 0);

// Polls `step` (from LinePoller::Plan) on the link and takes its outcome;
// nothing when the link's stop ended it under way (not a poll of the
// instrument: its row stays as it was).
std::optional<pmtrend::ReadOutcome> PollStep(LinePoller& poller, const Step& step, TComPortClass& link,
                              const std::function<Clocks()>& clock);

// The steady clock and the system clock.
Clocks Now();

// The link's words for a failed exchange without "устройство N PORT".
std::string FailureText(const TComPortClass& link, int deviceIndex, int result);

}  // namespace pmline
