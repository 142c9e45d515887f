#pragma once
// One check under way, the same for the window and pmctl: the points in
// turn, the signal to apply at each, the readings taken there accepted
// once they have settled, and the finished record with its verdict.
// Plain C++; talking to the instrument is Readings.h's.

#include <optional>
#include <string>
#include <vector>

#include "CheckRecord.h"
#include "Readings.h"

namespace pmverify {

class CheckRun {
 public:
  // A check of `instrument` (just read) at `address` on `port`. As left
  // belongs to the visit `visit` (the id of its as-found check).
  CheckRun(const InstrumentRead& instrument, std::string port, int address, Setup setup, Stage stage,
           std::int64_t visit, const std::vector<std::string>& tableDirs);

  const Scale& GetScale() const { return m_record.scale; }
  // Whether the program can compute the signals (a sensor type without a
  // characteristic needs the applied value typed at each point).
  bool Computes() const { return m_record.scale.input == InputKind::Current || m_characteristic.has_value(); }

  bool Done() const { return m_record.points.size() >= m_record.setup.points.size(); }
  std::size_t Current() const { return m_record.points.size(); }
  // The signal of the current point; tхс from the latest reading.
  Signal CurrentSignal() const;

  // The readings of the current point: when they have settled the point is
  // recorded and the check moves on (true); otherwise nothing changes
  // (false, «сигнал не установился»). `current`: the output current the
  // engineer measured, mA; `applied`: what he applied where the program
  // computes no signal.
  bool Take(const Taken& taken, std::optional<double> current, const std::string& applied);

  // The record; its verdict once Done.
  const CheckRecord& Record() const { return m_record; }
  CheckRecord& Record() { return m_record; }

 private:
  CheckRecord m_record;
  std::optional<Characteristic> m_characteristic;
  std::optional<double> m_coldJunction;
};

}  // namespace pmverify
