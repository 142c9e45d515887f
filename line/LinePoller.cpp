#include "LinePoller.h"

#include <algorithm>

namespace pmline {

LinePoller::LinePoller(const std::vector<int>& addresses, int backoffCycles) : m_backoff(std::max(1, backoffCycles)) {
  m_instruments.reserve(addresses.size());
  for (int a : addresses) {
    Instrument in;
    in.address = a;
    in.dueCycle = 1;
    m_instruments.push_back(std::move(in));
  }
}

bool LinePoller::AtCycleEnd() const {
  for (std::size_t i = m_pos; m_cycle > 0 && i < m_instruments.size(); ++i)
    if (m_instruments[i].dueCycle <= m_cycle) return false;
  return true;
}

std::optional<Step> LinePoller::Next(std::int64_t nowMs, long cycleLimit) {
  if (m_instruments.empty()) return std::nullopt;
  // Every instrument is due within m_backoff cycles, so this ends.
  const std::size_t bound = m_instruments.size() * static_cast<std::size_t>(m_backoff + 1) + 1;
  for (std::size_t tried = 0; tried <= bound; ++tried) {
    if (m_cycle == 0 || m_pos == m_instruments.size()) {
      if (cycleLimit > 0 && m_cycle >= cycleLimit) return std::nullopt;
      if (m_cycle > 0) m_lastCycleMs = nowMs - m_cycleStart;
      ++m_cycle;
      m_cycleStart = nowMs;
      m_pos = 0;
    }
    const std::size_t index = m_pos++;
    const Instrument& in = m_instruments[index];
    if (in.dueCycle > m_cycle) continue;
    return Step{index, in.silent ? kProbeAttempts : 0, m_cycle};
  }
  return std::nullopt;
}

pmtrend::ReadOutcome LinePoller::Take(const Step& step, const pmops::ReadOutcome& read, const std::string& port,
                                      pmtrend::Millis time, std::string failureText) {
  Instrument& in = m_instruments.at(step.index);
  ++m_polls;
  ++in.polls;
  in.polled = true;
  in.stop = read.stop;
  in.result = read.result;
  // An exchange that failed; an instrument of a model not served answered.
  const bool failed = read.stop == pmops::ReadStop::Identify || read.stop == pmops::ReadStop::Block ||
                      read.stop == pmops::ReadStop::BlockTooLong || read.stop == pmops::ReadStop::Measure;
  in.failureText = failed ? std::move(failureText) : std::string();
  in.silent = failed;
  in.dueCycle = step.cycle + (failed ? m_backoff : 1);

  pmtrend::ReadOutcome out;
  out.time = time;
  out.source = {port, in.address, in.pm.DevType};
  if (failed) {
    ++in.failures;
  } else if (read.Complete()) {
    out.ok = true;
    out.reading = pmtrend::ReadingFromImage(in.pm, port, in.address, time);
    in.reading = out.reading;
    in.lastGood = time;
  }
  return out;
}

}  // namespace pmline
