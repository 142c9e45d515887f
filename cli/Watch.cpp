#include "Watch.h"

#include <ostream>

#include "Commands.h"
#include "LinePoll.h"
#include "Report.h"
#include "RowText.h"

namespace pmcli {

int Watch(TComPortClass& link, std::ostream& out, std::ostream& err, const WatchOptions& options,
          pmtrend::CsvRecorder* csv, const pmlink::StopSignal& stop) {
  struct StopFor {
    TComPortClass& link;
    ~StopFor() { link.SetStop(nullptr); }
  } const stopFor{link};
  link.SetStop(&stop);

  pmline::LinePoller poller(options.addresses);
  const auto interval = static_cast<std::int64_t>(options.intervalS * 1000);
  while (!stop.Raised()) {
    const pmline::Turn turn = poller.Plan(pmline::Now().steadyMs, interval, options.count);
    if (turn.Ends()) break;
    if (!turn.step) {
      // A cycle begins no sooner than the interval after the one before.
      stop.Sleep(static_cast<int>(std::max<std::int64_t>(turn.waitUntilMs - pmline::Now().steadyMs, 0)));
      continue;
    }
    const auto polled = pmline::PollStep(poller, *turn.step, link, pmline::Now);
    if (!polled) break;  // stopped under way
    const pmtrend::ReadOutcome& outcome = *polled;
    const pmline::Instrument& in = poller.Instruments()[turn.step->index];
    out << pmline::WatchLine(in, outcome) << '\n';
    // A reader that went away ends the watch, even where SIGPIPE is ignored.
    if (!out.flush()) return kFileRefused;
    if (csv) {
      const std::string row = outcome.ok ? pmtrend::CsvRow(outcome.reading, pmtrend::PortColumn::Yes)
                                         : pmtrend::CsvFailureRow(outcome.source, outcome.time, pmtrend::PortColumn::Yes);
      if (auto error = csv->Append(row)) {
        Report(err, *error + "\nЗаписано строк: " + std::to_string(csv->Lines()));
        return kFileRefused;
      }
    }
  }
  std::string silent;
  for (const pmline::Instrument& i : poller.Instruments())
    if (i.silent) silent += (silent.empty() ? "" : ", ") + std::to_string(i.address);
  if (!silent.empty()) {
    Report(err, "Не ответили на последний запрос: " + silent);
    return kLinkFailure;
  }
  return kDone;
}

}  // namespace pmcli
