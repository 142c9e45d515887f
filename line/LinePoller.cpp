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
      BeginCycle(nowMs);
    }
    const std::size_t index = m_pos++;
    const Instrument& in = m_instruments[index];
    if (in.dueCycle > m_cycle) continue;
    m_polledThisCycle = true;
    return Step{index, in.silent ? kProbeAttempts : 0, m_cycle};
  }
  return std::nullopt;
}

void LinePoller::BeginCycle(std::int64_t nowMs) {
  if (m_cycle > 0) {
    m_lastCycleMs = nowMs - m_cycleStart;
    if (m_polledThisCycle) m_lastBusyCycleMs = *m_lastCycleMs;
  }
  ++m_cycle;
  m_cycleStart = nowMs;
  m_pos = 0;
  m_polledThisCycle = false;
}

Turn LinePoller::Plan(std::int64_t nowMs, std::int64_t intervalMs, long cycleLimit) {
  if (m_instruments.empty()) return {};
  // Two rounds at most: the end of a cycle, then the new cycle's first step.
  for (int round = 0; round < 2; ++round) {
    if (m_cycle > 0 && AtCycleEnd()) {
      if (cycleLimit > 0 && m_cycle >= cycleLimit) return {};
      const std::int64_t least = m_polledThisCycle ? intervalMs : std::max(intervalMs, m_lastBusyCycleMs);
      if (nowMs < m_cycleStart + least) return {std::nullopt, m_cycleStart + least};
      BeginCycle(nowMs);
    } else if (m_cycle == 0) {
      BeginCycle(nowMs);
    }
    for (; m_pos < m_instruments.size(); ++m_pos) {
      const Instrument& in = m_instruments[m_pos];
      if (in.dueCycle > m_cycle) continue;
      m_polledThisCycle = true;
      return {Step{m_pos++, in.silent ? kProbeAttempts : 0, m_cycle}, 0};
    }
  }
  // A cycle with nothing due has begun: it waits for its time.
  const std::int64_t least = std::max(intervalMs, m_lastBusyCycleMs);
  return {std::nullopt, std::max<std::int64_t>(m_cycleStart + least, nowMs + 1)};
}

void LinePoller::Again(const Step& step) {
  if (step.cycle == m_cycle && step.index + 1 == m_pos) m_pos = step.index;
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
