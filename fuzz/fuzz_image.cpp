// The parameter image filled from arbitrary replies as a read fills it: the
// identification reply, the block reply (function 68) and the measurement
// reply (function 71), then every getter, the scale the block selects and
// the conversions and display texts of the values read.
//
// Input: three frames, each a length byte and that many bytes (identity,
// block, measurement), the register reply bytes of the sensor resistance,
// then the rest as edit values.

#include <array>
#include <cstdint>
#include <vector>

#include "DisplayFormat.h"
#include "FuzzInput.h"
#include "Identification.h"
#include "ProgPM.h"
#include "RangeLists.h"
#include "Scaling.h"
#include "SensorLists.h"

namespace {

void Show(long double value, pmdev::FixedFormat f) {
  const std::string text = pmdev::Format(value, f);
  PM_FUZZ_CHECK(!text.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  pmfuzz::Input in(data, size);
  const auto identFrame = in.Bytes(in.Byte());
  const auto blockFrame = in.Bytes(in.Byte());
  const auto measFrame = in.Bytes(in.Byte());
  const auto registers = in.Bytes(4);

  TProgPMClass pm;
  // A previous instrument's image, of any length byte.
  for (auto& b : pm.Image) b = in.Byte();
  pm.ClearImage();
  PM_FUZZ_CHECK(!pm.BlockLoaded);

  const auto id = pmdev::ParseIdentity(identFrame);
  PM_FUZZ_CHECK(id.has_value() == (identFrame.size() >= 6));
  const int model = id ? id->model : 0;
  const int version = id ? id->version : 0;
  const int correction = id ? id->correction : 0;
  PM_FUZZ_CHECK(correction >= 0 && correction <= 15);
  pmdev::ClassifyModel(model);
  pmdev::ModelName(model);
  pmdev::IdentificationText(model, version);
  pmdev::VisibleControls(pmdev::FeaturesFor(model, version));
  pmdev::SensorList(model, version);

  const auto before = pm.Image;
  if (pm.TakeBlockReply(blockFrame, correction)) {
    const int len = pm.GetLen();
    PM_FUZZ_CHECK(len <= static_cast<int>(TProgPMClass::MaxBlockLen));
    PM_FUZZ_CHECK(blockFrame.size() >= 3u + len && blockFrame[2] == len);
    // Byte 5 takes the correction code in its high nibble; the rest is the
    // block as sent.
    for (int i = 1; i <= len; ++i)
      if (i != 5) PM_FUZZ_CHECK(pm.Image[i] == blockFrame[2 + i]);
    PM_FUZZ_CHECK(pm.BlockLoaded);
    PM_FUZZ_CHECK(pm.GetCurrent() == correction);
  } else {
    PM_FUZZ_CHECK(pm.Image == before);
  }
  const auto block = pm.Image;
  if (pm.TakeMeasReply(measFrame)) {
    for (std::size_t i = 0; i < TProgPMClass::MeasLen; ++i)
      PM_FUZZ_CHECK(pm.Image[TProgPMClass::MeasOffset + i] == measFrame[3 + i]);
  } else {
    PM_FUZZ_CHECK(pm.Image == block);
  }

  // The scale the block selects, as the read arranges it.
  const auto table = pmdev::RangeTableFor(model, version, pm.GetTipD());
  const auto scale = pmdev::ScaleFromImage(table, pm.GetRangeNo(), pm.GetRangeMin(), pm.GetRangeMax());
  PM_FUZZ_CHECK(scale.starts.selected < static_cast<int>(scale.starts.items.size()));
  PM_FUZZ_CHECK(scale.ends.selected < static_cast<int>(scale.ends.items.size()));
  pm.TMin = scale.tmin;
  pm.TMax = scale.tmax;

  // Every field and the texts the read shows of it.
  const int fields[] = {pm.GetKBegSk(),  pm.GetKEndSk(),       pm.GetTipSign(),  pm.GetBreak(),
                        pm.GetTipK(),    pm.GetCurrent(),      pm.GetUstKod1(),  pm.GetUstKod2(),
                        pm.GetTipD(),    pm.GetRangeNo(),      pm.GetNu(),       pm.GetConnect(),
                        pm.GetCurrentEndKA(), pm.GetBegSkTxc(), pm.GetEndSkTxc(), pm.GetKTxc(),
                        pm.GetRangeMin(), pm.GetRangeMax(),    pm.GetCurrentEndZ(), pm.GetRez(),
                        pm.GetKodACP(),  pm.GetTxc(),          pm.GetKodTxc(),   pm.GetNonPriv()};
  for (const int v : fields) PM_FUZZ_CHECK(v >= -32768 && v <= 32767);
  for (int m = -1; m <= TProgPMClass::NodeCount; ++m) pm.GetNode(m);

  Show(pmdev::CodeToMA(pm.GetRez()), pmdev::kFmtResultMA);
  Show(pmdev::CodeToPercent16383(pm.GetRez()), pmdev::kFmtResultPercent);
  Show(pmdev::CodeToPercent8191(pm.GetRez()), pmdev::kFmtResultPercent);
  Show(pm.CodeToDegC(pm.GetRez()), pmdev::kFmtResultDegC);
  Show(pm.CodeToDegC(pm.GetUstKod1()), pmdev::kFmtSetpointDegC);
  Show(pmdev::CodeToPercent16383(pm.GetUstKod2()), pmdev::kFmtSetpointPercent);
  Show(pmdev::TxcToDegC(pm.GetTxc()), pmdev::kFmtColdJunction);
  Show(pmdev::BigEndianFloat(registers), pmdev::kFmtRtEt);
  pmdev::ColdJunctionValid(pm.GetKodTxc(), pm.GetTxc());
  PM_FUZZ_CHECK(pmdev::MeasurementState(pm.GetStatus()).digits.size() == 3);
  PM_FUZZ_CHECK(pmdev::AlarmState(pm.GetStatus()).digits.size() == 2);
  pmdev::AccessModeText(pm.GetNonPriv());

  // Edits of the image, then the block a write would send.
  pm.SetTipSign(in.Byte() & 3);
  pm.SetBreak(in.Byte());
  pm.SetNu(in.Byte());
  pm.SetNode(static_cast<int>(in.Byte()) - 100, in.Byte() << 8 | in.Byte());
  pm.SetCurrentEndKA(in.Byte() & 15);
  pm.SetCurrentEndZ(in.Byte() & 15);
  const float typed = in.Float();
  pmdev::DegCToCode(typed, pm.TMin, pm.TMax);
  pmdev::PercentToCode(typed);
  pmdev::MilliampToCode(typed);
  std::vector<std::uint8_t> out(in.Byte() % (TProgPMClass::MaxBlockLen + 2));
  const std::size_t stored = pm.StoreBlock(out);
  PM_FUZZ_CHECK(stored <= out.size());
  PM_FUZZ_CHECK(stored == 0 || stored == static_cast<std::size_t>(pm.GetLen()));
  return 0;
}
