#include "Fields.h"

#include <algorithm>
#include <cstdio>

#include "DisplayFormat.h"
#include "Identification.h"
#include "ProgPM.h"
#include "RangeLists.h"
#include "Scaling.h"
#include "SensorLists.h"

namespace pmset {

namespace {

using pmdev::kModelKard;
using pmdev::kModelLunt;
using pmdev::kModelZetTP;
using pmdev::kModelZetTS;

// An item of a list, or the index itself when the list has no such item.
std::string Item(const std::vector<std::string>& items, int index) {
  if (index >= 0 && index < static_cast<int>(items.size())) return items[static_cast<std::size_t>(index)];
  return std::to_string(index);
}

std::string Hex(int byte) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02X", byte & 0xFF);
  return buf;
}

struct Decoded {
  TProgPMClass pm;
  bool standard = false;
};

Decoded Record(int model, int version, std::span<const std::uint8_t> block) {
  Decoded d;
  TProgPMClass& pm = d.pm;
  const std::size_t n = std::min(block.size(), TProgPMClass::MaxBlockLen);
  pm.SetLen(static_cast<int>(n));
  std::copy_n(block.begin(), n, pm.Image.begin() + 1);
  pm.DevType = model;
  pm.Version = version;
  pm.TakeNonPriv();
  const auto table = pmdev::RangeTableFor(model, version, pm.GetTipD());
  const pmdev::ScaleSetup scale =
      pmdev::ScaleFromImage(table, pm.GetRangeNo(), pm.GetRangeMin(), pm.GetRangeMax());
  pm.TMin = scale.tmin;
  pm.TMax = scale.tmax;
  pm.SavedRange = scale.savedRange;
  d.standard = scale.standard;
  return d;
}

}  // namespace

const std::vector<std::string>& AlarmTypeItems() {
  static const std::vector<std::string> items{"LH", "LL", "HH"};
  return items;
}
const std::vector<std::string>& ContactTypeItems() {
  static const std::vector<std::string> items{"нр", "нз"};
  return items;
}
const std::vector<std::string>& BreakStateItems() {
  static const std::vector<std::string> items{"ток min", "ток max"};
  return items;
}
const std::vector<std::string>& ConnectionItems() {
  static const std::vector<std::string> items{"4-х проводная", "3-х проводная"};
  return items;
}
const std::vector<std::string>& CurrentStartItems() {
  static const std::vector<std::string> items{
      "0 мкА",   "+4 мкА",  "+ 8 мкА", "+12 мкА", "+16 мкА", "+20 мкА", "+24 мкА", "+28 мкА",
      "- 4 мкА", "- 8 мкА", "-12 мкА", "-16 мкА", "-20 мкА", "-24 мкА", "-28 мкА", "-32 мкА"};
  return items;
}
const std::vector<std::string>& CurrentEndItems() {
  static const std::vector<std::string> items{
      "0 мкА",   "+4 мкА",  "+ 8 мкА", "+12 мкА", "+16 мкА", "+20 мкА", "- 4 мкА", "- 8 мкА",
      "-12 мкА", "-16 мкА", "-20 мкА", "-24 мкА", "-28 мкА", "-32 мкА", "-36 мкА", "-40 мкА"};
  return items;
}

std::vector<Field> Describe(int model, int version, std::span<const std::uint8_t> block) {
  const Decoded decoded = Record(model, version, block);
  const TProgPMClass& pm = decoded.pm;
  const bool kard = model == kModelKard, lunt = model == kModelLunt;
  const bool ts = model == kModelZetTS, tp = model == kModelZetTP, zet = ts || tp;
  std::vector<Field> out;
  auto setting = [&out](std::string key, std::string label, std::string text) {
    out.push_back({std::move(key), std::move(label), std::move(text), Kind::Setting});
  };
  auto own = [&out](std::string key, std::string label, std::string text) {
    out.push_back({std::move(key), std::move(label), std::move(text), Kind::Own});
  };

  // Settings.
  if (kard || zet) setting("sensor", "Тип датчика", Item(pmdev::SensorList(model, version), pm.GetTipD()));
  if (zet) {
    setting("range_number", "Номер диапазона", std::to_string(pm.GetRangeNo()));
    setting("range", "Диапазон, °С",
            std::string(decoded.standard ? "" : "нестандартный ") +
                pmdev::FloatText(pm.TMin) + " .. " + pmdev::FloatText(pm.TMax));
  }
  if (!lunt) {
    setting("alarm_type", "Тип сигнализации", Item(AlarmTypeItems(), pm.GetTipSign()));
    if (version >= 3) setting("contact_type", "Тип контактов", Item(ContactTypeItems(), pm.GetTipK()));
    const auto setpoint = [&](int code) {
      return zet ? pmdev::Format(pm.CodeToDegC(code), pmdev::kFmtSetpointDegC) + " °С"
                 : pmdev::Format(pmdev::CodeToPercent16383(code), pmdev::kFmtSetpointPercent) + " %";
    };
    // Labelled as the window captions the columns: the first setpoint
    // stands under "Уставка 2", the second under "Уставка 1".
    setting("setpoint1", "Уставка 2", setpoint(pm.GetUstKod1()));
    setting("setpoint1_code", "Уставка 2 в кодах", std::to_string(pm.GetUstKod1()));
    setting("setpoint2", "Уставка 1", setpoint(pm.GetUstKod2()));
    setting("setpoint2_code", "Уставка 1 в кодах", std::to_string(pm.GetUstKod2()));
  }
  if (version >= 2) setting("break_state", "Выход при обрыве датчика", Item(BreakStateItems(), pm.GetBreak()));
  if (ts && version >= 3) setting("connection", "Схема подключения", Item(ConnectionItems(), pm.GetConnect() - 1));
  if (zet) {
    setting("nonstandard_start", "Нестандартный диапазон, от", std::to_string(pm.GetRangeMin()));
    setting("nonstandard_end", "Нестандартный диапазон, до", std::to_string(pm.GetRangeMax()));
    std::string nodes;
    for (int m = 0; m < TProgPMClass::NodeCount; ++m)
      nodes += (m ? " " : "") + std::to_string(pm.GetNode(m));
    setting("nodes", "Коды узлов", nodes);
  }
  if (tp) setting("ktxc", "Коэффициент расчета поправки Тхс", std::to_string(pm.GetKTxc()));

  // The instrument's own data.
  own("scale_start_code", "Код АЦП начала шкалы", std::to_string(pm.GetKBegSk()));
  own("scale_end_code", "Код АЦП конца шкалы", std::to_string(pm.GetKEndSk()));
  if (tp) {
    own("txc_start_code", "Тхс (0 °С)", std::to_string(pm.GetBegSkTxc()));
    own("txc_end_code", "Тхс (100 °С)", std::to_string(pm.GetEndSkTxc()));
  }
  if (version >= 2) own("current_start", "Коррекция тока в начале шкалы", Item(CurrentStartItems(), pm.GetCurrent() & 0x0F));
  if (version >= 4)
    own("current_end", "Коррекция тока в конце шкалы",
        Item(CurrentEndItems(), zet ? pm.GetCurrentEndZ() : pm.GetCurrentEndKA()));
  own("address", "Номер прибора", std::to_string(pm.GetNu() + 1));
  own("access_mode", "Режим программирования", pmdev::AccessModeText(pm.NonPriv));
  if (pm.GetLen() > 0) own("last_byte", "Последний байт блока", Hex(pm.Image[static_cast<std::size_t>(pm.GetLen())]));
  return out;
}

std::vector<Field> DescribeMeasurement(int model, int version, std::span<const std::uint8_t> block,
                                       std::span<const std::uint8_t> measurement) {
  TProgPMClass pm = Record(model, version, block).pm;
  pm.LoadMeas(measurement);
  const bool zet = model == kModelZetTS || model == kModelZetTP;
  std::vector<Field> out;
  auto add = [&out](std::string key, std::string label, std::string text) {
    out.push_back({std::move(key), std::move(label), std::move(text), Kind::Own});
  };
  add("result_code", "Результат в кодах", std::to_string(pm.GetRez()));
  add("result_percent", "Результат в %",
      pmdev::Format(zet ? pmdev::CodeToPercent8191(pm.GetRez()) : pmdev::CodeToPercent16383(pm.GetRez()),
                    pmdev::kFmtResultPercent));
  if (zet)
    add("result_degC", "Результат в °С", pmdev::Format(pm.CodeToDegC(pm.GetRez()), pmdev::kFmtResultDegC));
  else
    add("result_mA", "Результат в мА", pmdev::Format(pmdev::CodeToMA(pm.GetRez()), pmdev::kFmtResultMA));
  add("adc_code", "Текущий код АЦП", std::to_string(pm.GetKodACP()));
  const pmdev::StatusDisplay state = pmdev::MeasurementState(pm.GetStatus());
  add("state", "Состояние измерения", state.digits + " " + (state.fault ? state.text : "Норма"));
  if (model == kModelZetTP) {
    add("txc_code", "Тхс в кодах", std::to_string(pm.GetTxc()));
    add("txc_adc_code", "Текущий код АЦП Тхс", std::to_string(pm.GetKodTxc()));
  }
  return out;
}

}  // namespace pmset
