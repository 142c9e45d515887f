#include "ShotInput.h"

#include <cmath>

#include "Instrument.h"
#include "Scaling.h"
#include "Signal.h"

std::optional<ShotInput> InputOfReading(const TProgPMClass& pm, const std::vector<std::string>& tableDirs) {
  const pmverify::Scale scale = pmverify::ScaleOf(pm.DevType, pm.Version, pm.GetTipD(), pm.TMin, pm.TMax);
  const bool current = scale.input == pmverify::InputKind::Current;
  std::optional<pmverify::Characteristic> table;
  if (!current) {
    table = pmverify::Characteristic::Load(tableDirs, scale.sensor);
    if (!table) return std::nullopt;
  }
  const pmverify::Characteristic* c = table ? &*table : nullptr;
  // The result in the scale's unit, as the window converts the code.
  const double point = current ? static_cast<double>(pmdev::CodeToPercent16383(pm.GetRez()))
                               : static_cast<double>(pm.CodeToDegC(pm.GetRez()));
  const double tcj = static_cast<double>(pmdev::TxcToDegC(pm.GetTxc()));
  const auto signal = pmverify::SignalFor(scale, c, point, pmverify::ColdJunction::Copper, tcj).value;
  // The calibration codes stand for the signals of the scale's ends (a
  // thermocouple's against 0 °C).
  const auto lo = pmverify::SignalFor(scale, c, scale.lo, pmverify::ColdJunction::Compensated, {}).value;
  const auto hi = pmverify::SignalFor(scale, c, scale.hi, pmverify::ColdJunction::Compensated, {}).value;
  if (!signal || !lo || !hi || *hi == *lo) return std::nullopt;
  const double share = (*signal - *lo) / (*hi - *lo);
  return ShotInput{*signal, static_cast<int>(std::lround(pm.GetKBegSk() + share * (pm.GetKEndSk() - pm.GetKBegSk())))};
}

bool MatchInput(sim::Instrument& in, const TProgPMClass& pm, const std::vector<std::string>& tableDirs) {
  const std::optional<ShotInput> input = InputOfReading(pm, tableDirs);
  if (!input) return false;
  sim::Measurement m = in.MeasurementAt(sim::Clock::now());
  m.kodAcp = static_cast<std::int16_t>(input->kodAcp);
  in.SetMeasurement(m);
  in.SetSensorValue(static_cast<float>(input->signal));
  return true;
}
