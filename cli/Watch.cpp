#include "Watch.h"

#include <chrono>
#include <ostream>
#include <thread>

#include "Commands.h"
#include "LinePoll.h"
#include "Report.h"
#include "RowText.h"

namespace pmcli {

int Watch(TComPortClass& link, std::ostream& out, std::ostream& err, const WatchOptions& options,
          pmtrend::CsvRecorder* csv, const volatile std::sig_atomic_t& stop) {
  pmline::LinePoller poller(options.addresses);
  const auto interval = static_cast<std::int64_t>(options.intervalS * 1000);
  while (!stop) {
    // A cycle begins no sooner than the interval after the one before.
    if (interval > 0 && poller.Cycles() > 0 && poller.AtCycleEnd()) {
      while (!stop && pmline::Now().steadyMs < poller.CycleStartMs() + interval)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (stop) break;
    }
    const auto outcome = pmline::PollNext(poller, link, pmline::Now, options.count);
    if (!outcome) break;
    const pmline::Instrument* in = nullptr;
    for (const pmline::Instrument& i : poller.Instruments())
      if (i.address == outcome->source.address) in = &i;
    out << pmline::WatchLine(*in, *outcome) << '\n';
    out.flush();
    if (csv) {
      const std::string row = outcome->ok ? pmtrend::CsvRow(outcome->reading)
                                          : pmtrend::CsvFailureRow(outcome->source, outcome->time);
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
