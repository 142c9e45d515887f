#include "Reading.h"

#include <chrono>

#include "DisplayFormat.h"
#include "Identification.h"
#include "ProgPM.h"
#include "Scaling.h"

namespace pmtrend {

Millis NowMillis() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

Reading ReadingFromImage(const TProgPMClass& pm, const std::string& port, int address, Millis time) {
  Reading r;
  r.time = time;
  r.source = {port, address, pm.DevType};
  r.rez = pm.GetRez();
  r.adc = pm.GetKodACP();
  r.status = pm.GetStatus();
  r.alarm = pmdev::AlarmState(r.status).fault;
  r.overflow = pmdev::MeasurementState(r.status).fault;

  const bool zet = pm.DevType == pmdev::kModelZetTS || pm.DevType == pmdev::kModelZetTP;
  if (zet) {
    r.unit = "°C";
    r.value = pm.CodeToDegC(r.rez);
    r.valueText = pmdev::Format(r.value, pmdev::kFmtResultDegC);
    r.percentText = pmdev::Format(pmdev::CodeToPercent8191(r.rez), pmdev::kFmtResultPercent);
    r.setpoint1 = pm.CodeToDegC(pm.GetUstKod1());
    r.setpoint2 = pm.CodeToDegC(pm.GetUstKod2());
    if (pm.DevType == pmdev::kModelZetTP && pmdev::ColdJunctionValid(pm.GetKodTxc(), pm.GetTxc()))
      r.coldJunctionText = pmdev::Format(pmdev::TxcToDegC(pm.GetTxc()), pmdev::kFmtColdJunction);
  } else {
    r.unit = "мА";
    r.value = static_cast<double>(pmdev::CodeToMA(r.rez));
    r.valueText = pmdev::Format(pmdev::CodeToMA(r.rez), pmdev::kFmtResultMA);
    r.percentText = pmdev::Format(pmdev::CodeToPercent16383(r.rez), pmdev::kFmtResultPercent);
    // ЛУНТ has no alarm outputs: the window shows no setpoints for it.
    if (pm.DevType == pmdev::kModelKard) {
      r.setpoint1 = static_cast<double>(pmdev::CodeToMA(pm.GetUstKod1()));
      r.setpoint2 = static_cast<double>(pmdev::CodeToMA(pm.GetUstKod2()));
    }
  }
  return r;
}

std::string Legend(const Source& s) {
  std::string model = pmdev::ModelName(s.model);
  if (model.empty()) model = "тип " + std::to_string(s.model);
  return std::to_string(s.address) + ": " + model + ", " + s.port;
}

}  // namespace pmtrend
