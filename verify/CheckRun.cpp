#include "CheckRun.h"

#include <utility>

namespace pmverify {

CheckRun::CheckRun(const InstrumentRead& instrument, std::string port, int address, Setup setup, Stage stage,
                   std::int64_t visit, const std::vector<std::string>& tableDirs)
    : m_coldJunction(instrument.coldJunction) {
  m_record.stage = stage;
  m_record.visit = stage == Stage::AsLeft ? visit : 0;
  m_record.port = std::move(port);
  m_record.address = address;
  m_record.identification = instrument.identification;
  m_record.scale = instrument.scale;
  m_record.setup = std::move(setup);
  if (m_record.scale.input != InputKind::Current)
    m_characteristic = Characteristic::Load(tableDirs, m_record.scale.sensor);
}

Signal CheckRun::CurrentSignal() const {
  if (Done()) return {};
  return SignalFor(m_record.scale, m_characteristic ? &*m_characteristic : nullptr,
                   m_record.setup.points[Current()], m_record.setup.coldJunction, m_coldJunction);
}

bool CheckRun::Take(const Taken& taken, std::optional<double> current, const std::string& applied) {
  if (Done() || !taken.ok) return false;
  const Signal signal = CurrentSignal();
  if (taken.coldJunction) m_coldJunction = taken.coldJunction;
  const Setup& s = m_record.setup;
  if (!Settled(taken.readings, Permissible(s.tolerance, m_record.scale.Span()))) return false;
  PointRecord p;
  p.result = Evaluate(m_record.scale, s.tolerance, s.points[Current()], taken.readings, current);
  p.signal = signal;
  p.applied = applied;
  m_record.points.push_back(std::move(p));
  if (Done()) {
    std::vector<PointResult> results;
    for (const PointRecord& r : m_record.points) results.push_back(r.result);
    m_record.verdict = Overall(results);
  }
  return true;
}

}  // namespace pmverify
