#include "Signal.h"

#include <algorithm>
#include <cmath>

#include "DisplayFormat.h"
#include "Identification.h"
#include "RangeCalc.h"
#include "SensorLists.h"

namespace pmverify {

std::string Scale::Unit() const { return input == InputKind::Current ? "%" : "°C"; }

Scale ScaleOf(int model, int version, int tipD, double tmin, double tmax) {
  Scale s;
  s.model = model;
  s.version = version;
  const std::vector<std::string> list = pmdev::SensorList(model, version);
  if (tipD >= 0 && tipD < static_cast<int>(list.size())) s.sensor = list[static_cast<std::size_t>(tipD)];
  if (model == pmdev::kModelZetTS || model == pmdev::kModelZetTP) {
    s.input = model == pmdev::kModelZetTS ? InputKind::Resistance : InputKind::Thermocouple;
    s.lo = tmin;
    s.hi = tmax;
  } else {
    s.input = InputKind::Current;
    s.root = s.sensor == "корневой";
    s.lo = 0;
    s.hi = 100;
  }
  return s;
}

std::optional<Characteristic> Characteristic::Load(const std::vector<std::string>& tableDirs,
                                                   std::string_view sensor) {
  auto table = std::make_shared<pmrange::RefTable>();
  if (pmrange::LoadTableFile(tableDirs, sensor, *table) != pmrange::LoadStatus::Ok) return std::nullopt;
  Characteristic c;
  c.m_table = std::move(table);
  c.m_factor = sensor == "50П" || sensor == "50M" ? 0.5 : 1.0;
  return c;
}

std::optional<double> Characteristic::At(double t) const {
  const pmrange::RefTable& table = *m_table;
  const int n = table.Count;
  if (!(t >= table.Temp[0] && t <= table.Temp[static_cast<std::size_t>(n - 1)])) return std::nullopt;
  // The entry at or below t, then four entries around it, moved inward at
  // the table's ends.
  const auto begin = table.Temp.begin();
  int i = static_cast<int>(std::upper_bound(begin, begin + n, t) - begin) - 1;
  const int first = std::clamp(i - 1, 0, n - 4);
  double sum = 0;
  for (int a = first; a < first + 4; ++a) {
    double term = table.Signal[static_cast<std::size_t>(a)];
    for (int b = first; b < first + 4; ++b)
      if (b != a)
        term *= (t - table.Temp[static_cast<std::size_t>(b)]) /
                (table.Temp[static_cast<std::size_t>(a)] - table.Temp[static_cast<std::size_t>(b)]);
    sum += term;
  }
  return sum * m_factor;
}

std::string Short(double value, int decimals) {
  std::string text = pmdev::FormatFixed(value, 15, decimals);
  if (text.find(',') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == ',') text.pop_back();
  }
  return text == "-0" ? "0" : text;
}

std::string PointText(const Scale& scale, double point) { return Short(point, 2) + " " + scale.Unit(); }

Signal SignalFor(const Scale& scale, const Characteristic* characteristic, double point, ColdJunction mode,
                 std::optional<double> tcj) {
  Signal s;
  const std::string where = PointText(scale, point);
  if (scale.input == InputKind::Current) {
    // The unified input: 4 mA at the scale start, 20 mA at its end; a root
    // scale shows the square root of the input's share.
    const double share = point / 100;
    s.unit = "мА";
    s.value = 4 + 16 * (scale.root ? share * share : share);
    s.text = pmdev::FormatFixed(*s.value, 15, 3) + " мА (" + where + ")";
    return s;
  }
  s.unit = scale.input == InputKind::Resistance ? "Ом" : "мВ";
  if (!characteristic) {
    s.text = "сигнал, соответствующий " + where;
    return s;
  }
  std::optional<double> value = characteristic->At(point);
  std::string note = where;
  if (value && scale.input == InputKind::Thermocouple && mode == ColdJunction::Copper) {
    const std::optional<double> junction = tcj ? characteristic->At(*tcj) : std::nullopt;
    if (!junction) {
      s.text = "сигнал, соответствующий " + where + " (нет температуры холодного спая)";
      return s;
    }
    *value -= *junction;
    s.coldJunction = tcj;
    note += ", Тхс " + pmdev::FormatFixed(*tcj, 15, 2) + " °C";
  }
  if (!value) {
    s.text = "сигнал, соответствующий " + where + " (вне таблицы НСХ)";
    return s;
  }
  s.value = value;
  s.text = pmdev::FormatFixed(*value, 15, 3) + " " + s.unit + " (" + note + ")";
  return s;
}

std::string Instruction(const Signal& s) { return "Подайте " + s.text; }

std::string NoCharacteristicText(const std::string& sensor) {
  return "Для датчика " + (sensor.empty() ? std::string("этого типа") : sensor) +
         " в программе нет НСХ: сигнал рассчитать нельзя.\nВведите в каждой точке поданное значение.";
}

}  // namespace pmverify
