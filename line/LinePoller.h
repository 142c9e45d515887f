#pragma once
// Watching a whole line: the instruments are polled in turn, cycle after
// cycle, in address order. An instrument whose poll fails is marked as not
// answering and from then on tried only every few cycles, with a single
// attempt, so that a dead instrument costs the others one time-out every
// few cycles instead of a full exchange every cycle; it is due again every
// cycle as soon as it answers. Plain C++: the schedule, each instrument's
// state and the cycle accounting, without the link (LinePoll.h runs a step
// on it).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ProgPM.h"
#include "Read.h"
#include "Reading.h"

namespace pmline {

// A silent instrument is tried every fourth cycle, with one attempt.
inline constexpr int kBackoffCycles = 4;
inline constexpr int kProbeAttempts = 1;

struct Instrument {
  int address = 0;  // 1..32
  TProgPMClass pm;  // block and measurement as the last poll left them
  std::optional<pmtrend::Reading> reading;  // the last good reading
  pmtrend::Millis lastGood = 0;             // its time; 0: never
  long polls = 0;
  long failures = 0;           // polls that ended in a failed exchange
  bool polled = false;         // polled at least once
  bool silent = false;         // the last poll failed: backed off
  pmops::ReadStop stop = pmops::ReadStop::Identify;  // how the last poll ended
  int result = 0;              // its result code
  std::string failureText;     // the link's words for it, without device and port
  long dueCycle = 0;           // the first cycle it is polled in
};

// What to poll next.
struct Step {
  std::size_t index = 0;  // into Instruments()
  int attempts = 0;       // attempts per request; 0: the exchange settings' own
  long cycle = 0;
};

// What a poller on the clock does next: poll a step, wait until a time,
// or end (the cycles asked for are done; an empty line).
struct Turn {
  std::optional<Step> step;
  std::int64_t waitUntilMs = 0;  // when no step: 0 ends
  bool Ends() const { return !step && waitUntilMs == 0; }
};

class LinePoller {
 public:
  explicit LinePoller(const std::vector<int>& addresses, int backoffCycles = kBackoffCycles);

  // The next instrument due; the first call and every return past the last
  // address begin a cycle at `nowMs` (a steady clock). Nothing for an empty
  // line, or when it would begin cycle cycleLimit + 1 (0: no limit).
  // Instruments backed off are skipped; a cycle in which none is due passes
  // without a poll.
  std::optional<Step> Next(std::int64_t nowMs, long cycleLimit = 0);
  // The next turn at `nowMs` for a poller on the clock. A cycle begins no
  // sooner than intervalMs after the one before; one in which nothing is
  // due (every instrument backed off) lasts as long as the last cycle that
  // polled, or the interval if longer, so the back-off holds in time too.
  // Ends once cycle cycleLimit (0: no limit) is complete, at once.
  Turn Plan(std::int64_t nowMs, std::int64_t intervalMs = 0, long cycleLimit = 0);
  // A step that could not be polled (the line was taken for a command):
  // it comes again as the next step.
  void Again(const Step& step);
  // True when the next poll begins a new cycle.
  bool AtCycleEnd() const;
  std::int64_t CycleStartMs() const { return m_cycleStart; }

  // The end of the poll of step: the instrument's state follows it, and the
  // reading for the recording and the trend is returned (stamped `time`).
  pmtrend::ReadOutcome Take(const Step& step, const pmops::ReadOutcome& read, const std::string& port,
                            pmtrend::Millis time, std::string failureText = {});

  const std::vector<Instrument>& Instruments() const { return m_instruments; }
  // The record the poll of step reads into.
  TProgPMClass& Record(const Step& step) { return m_instruments.at(step.index).pm; }
  // Cycles begun (the current one included).
  long Cycles() const { return m_cycle; }
  // Duration of the last complete cycle, ms; nothing before the first ends.
  std::optional<std::int64_t> LastCycleMs() const { return m_lastCycleMs; }
  long PollsDone() const { return m_polls; }

 private:
  std::vector<Instrument> m_instruments;
  int m_backoff;
  std::size_t m_pos = 0;  // next position in the current cycle
  long m_cycle = 0;
  std::int64_t m_cycleStart = 0;
  std::optional<std::int64_t> m_lastCycleMs;
  std::int64_t m_lastBusyCycleMs = 0;  // the last complete cycle that polled
  bool m_polledThisCycle = false;
  long m_polls = 0;

  void BeginCycle(std::int64_t nowMs);
};

}  // namespace pmline
