#include "Poll.h"

#include "AttemptCount.h"
#include "RangeLists.h"
#include "SensorLists.h"

namespace pmops {

ReadOutcome Poll(TComPortClass& link, TProgPMClass& pm, int deviceIndex, int attempts) {
  const AttemptCount kept(link, attempts, Stages::Both);
  ReadOutcome out = ReadIdentityBlockMeasurement(link, pm, deviceIndex);
  if (!out.Complete()) return out;
  // The scale the window takes from its range lists, for the ЗЕТ models.
  const auto table = pmdev::RangeTableFor(pm.DevType, pm.Version, pm.GetTipD());
  const pmdev::ScaleSetup scale = pmdev::ScaleFromImage(table, pm.GetRangeNo(), pm.GetRangeMin(), pm.GetRangeMax());
  pm.TMin = scale.tmin;
  pm.TMax = scale.tmax;
  pm.SavedRange = scale.savedRange;
  pm.DataRead = 1;
  return out;
}

}  // namespace pmops
