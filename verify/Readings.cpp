#include "Readings.h"

#include "DisplayFormat.h"
#include "Identification.h"
#include "Poll.h"
#include "Scaling.h"

namespace pmverify {

namespace {

// A poll into `pm`; false after reporting what stopped it.
bool Polled(TComPortClass& link, ui::MessageService& messages, TProgPMClass& pm, int deviceIndex) {
  const pmops::ReadOutcome out = pmops::Poll(link, pm, deviceIndex);
  switch (out.stop) {
    case pmops::ReadStop::Complete: return true;
    case pmops::ReadStop::Undetermined:
      messages.Warning(pmdev::UndeterminedTypeWarning(deviceIndex + 1));
      return false;
    case pmops::ReadStop::Foreign:
      messages.Warning(pmdev::ForeignDeviceWarning(deviceIndex + 1));
      return false;
    case pmops::ReadStop::BlockTooLong:
      messages.Warning(pmops::BlockTooLongText(deviceIndex + 1, out.blockCount));
      return false;
    default: link.ReportError(deviceIndex, out.result); return false;
  }
}

double ValueOf(const TProgPMClass& pm) {
  if (pm.DevType == pmdev::kModelZetTS || pm.DevType == pmdev::kModelZetTP) return pm.CodeToDegC(pm.GetRez());
  return static_cast<double>(pmdev::CodeToPercent16383(pm.GetRez()));
}

std::optional<double> ColdJunctionOf(const TProgPMClass& pm) {
  if (pm.DevType != pmdev::kModelZetTP || !pmdev::ColdJunctionValid(pm.GetKodTxc(), pm.GetTxc())) return std::nullopt;
  return static_cast<double>(pmdev::TxcToDegC(pm.GetTxc()));
}

}  // namespace

InstrumentRead ReadInstrument(TComPortClass& link, ui::MessageService& messages, int deviceIndex) {
  InstrumentRead r;
  TProgPMClass pm;
  if (!Polled(link, messages, pm, deviceIndex)) return r;
  r.scale = ScaleOf(pm.DevType, pm.Version, pm.GetTipD(), pm.TMin, pm.TMax);
  r.identification = pmdev::IdentificationText(pm.DevType, pm.Version).text;
  if (r.identification.empty()) r.identification = pmdev::ModelName(pm.DevType) + "-v" + std::to_string(pm.Version);
  r.coldJunction = ColdJunctionOf(pm);
  r.ok = true;
  return r;
}

Taken TakeReadings(TComPortClass& link, ui::MessageService& messages, int deviceIndex, int count, int intervalMs,
                   const std::function<void(int done)>& progress) {
  Taken t;
  TProgPMClass pm;
  for (int i = 0; i < count; ++i) {
    if (i > 0 && intervalMs > 0) link.Delay(intervalMs);
    if (!Polled(link, messages, pm, deviceIndex)) return t;
    t.readings.push_back(ValueOf(pm));
    t.coldJunction = ColdJunctionOf(pm);
    if (progress) progress(i + 1);
  }
  t.ok = true;
  return t;
}

}  // namespace pmverify
