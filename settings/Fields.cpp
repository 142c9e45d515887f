#include "Fields.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "DisplayFormat.h"
#include "Identification.h"
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

// A quantity for scripts: three decimals are finer than any display.
double Rounded(long double v) {
  if (!std::isfinite(static_cast<double>(v))) return 0.0;
  return std::round(static_cast<double>(v) * 1000.0) / 1000.0;
}

// Output-current corrections in µA (the lists' items as numbers).
long StartMicroamps(int code) { return code < 8 ? 4L * code : -4L * (code - 7); }
long EndMicroamps(int code) { return code < 6 ? 4L * code : -4L * (code - 5); }

struct Decoded {
  TProgPMClass pm;
  int model = 0;
  int version = 0;
  bool standard = false;
  bool zet = false;
  Access access = Access::Unknown;
};

Decoded Record(const BlockView& b) {
  Decoded d;
  d.model = b.model;
  d.version = b.version;
  d.access = b.access;
  d.zet = b.model == kModelZetTS || b.model == kModelZetTP;
  TProgPMClass& pm = d.pm;
  const std::size_t n = std::min(b.block.size(), TProgPMClass::MaxBlockLen);
  pm.SetLen(static_cast<int>(n));
  std::copy_n(b.block.begin(), n, pm.Image.begin() + 1);
  pm.DevType = b.model;
  pm.Version = b.version;
  const auto table = pmdev::RangeTableFor(b.model, b.version, pm.GetTipD());
  const pmdev::ScaleSetup scale = pmdev::ScaleFromImage(table, pm.GetRangeNo(), pm.GetRangeMin(), pm.GetRangeMax());
  pm.TMin = scale.tmin;
  pm.TMax = scale.tmax;
  pm.SavedRange = scale.savedRange;
  d.standard = scale.standard;
  return d;
}

// Models a field belongs to.
enum : unsigned { kKard = 1, kTs = 2, kTp = 4, kLunt = 8, kZet = kTs | kTp, kAlarms = kKard | kZet, kAll = 15 };

unsigned ModelBit(int model) {
  switch (model) {
    case kModelKard: return kKard;
    case kModelZetTS: return kTs;
    case kModelZetTP: return kTp;
    case kModelLunt: return kLunt;
    default: return 0;
  }
}

struct Bits {
  int at;  // image byte
  std::uint8_t mask;
};

// One row of the block's description.
struct Spec {
  const char* key;
  const char* label;
  Kind kind;
  unsigned models;
  int fromVersion;
  std::vector<Bits> bits;  // empty: derived from other fields
  bool operatorMay;
  std::string (*text)(const Decoded&);
  std::vector<Value> (*values)(const Decoded&);
};

std::vector<Bits> Word(int at) { return {{at, 0xFF}, {at + 1, 0xFF}}; }

std::string SetpointText(const Decoded& d, int code) {
  return d.zet ? pmdev::Format(d.pm.CodeToDegC(code), pmdev::kFmtSetpointDegC) + " °С"
               : pmdev::Format(pmdev::CodeToPercent16383(code), pmdev::kFmtSetpointPercent) + " %";
}
Value SetpointValue(const Decoded& d, const char* key, int code) {
  const double v = d.zet ? Rounded(d.pm.CodeToDegC(code)) : Rounded(pmdev::CodeToPercent16383(code));
  return {std::string(key) + (d.zet ? "_degC" : "_percent"), v};
}

// The block, field by field, in the order the window shows them. The
// setpoints are labelled as the window captions their columns: the first
// setpoint stands under "Уставка 2", the second under "Уставка 1".
const std::vector<Spec>& Table() {
  static const std::vector<Spec> table{
      // Settings.
      {"sensor", "Тип датчика", Kind::Setting, kKard | kZet, 1, {{10, 0xFF}}, false,
       [](const Decoded& d) { return Item(pmdev::SensorList(d.model, d.version), d.pm.GetTipD()); },
       [](const Decoded& d) { return std::vector<Value>{{"sensor", long{d.pm.GetTipD()}}}; }},
      {"range_number", "Номер диапазона", Kind::Setting, kZet, 1, {{11, 0xFF}}, false,
       [](const Decoded& d) { return std::to_string(d.pm.GetRangeNo()); },
       [](const Decoded& d) { return std::vector<Value>{{"range_number", long{d.pm.GetRangeNo()}}}; }},
      {"range", "Диапазон, °С", Kind::Setting, kZet, 1, {}, false,
       [](const Decoded& d) {
         return std::string(d.standard ? "" : "нестандартный ") + pmdev::FloatText(d.pm.TMin) + " .. " +
                pmdev::FloatText(d.pm.TMax);
       },
       [](const Decoded& d) {
         return std::vector<Value>{{"range_start_degC", Rounded(d.pm.TMin)},
                                   {"range_end_degC", Rounded(d.pm.TMax)},
                                   {"range_nonstandard", !d.standard}};
       }},
      {"alarm_type", "Тип сигнализации", Kind::Setting, kAlarms, 1, {{5, 0x03}}, true,
       [](const Decoded& d) { return Item(AlarmTypeItems(), d.pm.GetTipSign()); },
       [](const Decoded& d) { return std::vector<Value>{{"alarm_type", long{d.pm.GetTipSign()}}}; }},
      {"contact_type", "Тип контактов", Kind::Setting, kAlarms, 3, {{5, 0x08}}, true,
       [](const Decoded& d) { return Item(ContactTypeItems(), d.pm.GetTipK()); },
       [](const Decoded& d) { return std::vector<Value>{{"contact_type", long{d.pm.GetTipK()}}}; }},
      {"setpoint1", "Уставка 2", Kind::Setting, kAlarms, 1, Word(6), true,
       [](const Decoded& d) { return SetpointText(d, d.pm.GetUstKod1()); },
       [](const Decoded& d) { return std::vector<Value>{SetpointValue(d, "setpoint1", d.pm.GetUstKod1())}; }},
      {"setpoint1_code", "Уставка 2 в кодах", Kind::Setting, kAlarms, 1, Word(6), true,
       [](const Decoded& d) { return std::to_string(d.pm.GetUstKod1()); },
       [](const Decoded& d) { return std::vector<Value>{{"setpoint1_code", long{d.pm.GetUstKod1()}}}; }},
      {"setpoint2", "Уставка 1", Kind::Setting, kAlarms, 1, Word(8), true,
       [](const Decoded& d) { return SetpointText(d, d.pm.GetUstKod2()); },
       [](const Decoded& d) { return std::vector<Value>{SetpointValue(d, "setpoint2", d.pm.GetUstKod2())}; }},
      {"setpoint2_code", "Уставка 1 в кодах", Kind::Setting, kAlarms, 1, Word(8), true,
       [](const Decoded& d) { return std::to_string(d.pm.GetUstKod2()); },
       [](const Decoded& d) { return std::vector<Value>{{"setpoint2_code", long{d.pm.GetUstKod2()}}}; }},
      {"break_state", "Выход при обрыве датчика", Kind::Setting, kAll, 2, {{5, 0x04}}, false,
       [](const Decoded& d) { return Item(BreakStateItems(), d.pm.GetBreak()); },
       [](const Decoded& d) { return std::vector<Value>{{"break_state", long{d.pm.GetBreak()}}}; }},
      {"connection", "Схема подключения", Kind::Setting, kTs, 3, {{13, 0xFF}}, false,
       [](const Decoded& d) { return Item(ConnectionItems(), d.pm.GetConnect() - 1); },
       [](const Decoded& d) { return std::vector<Value>{{"connection", long{d.pm.GetConnect()}}}; }},
      {"nonstandard_start", "Нестандартный диапазон, от", Kind::Setting, kZet, 3, Word(19), false,
       [](const Decoded& d) { return std::to_string(d.pm.GetRangeMin()); },
       [](const Decoded& d) { return std::vector<Value>{{"nonstandard_start_degC", long{d.pm.GetRangeMin()}}}; }},
      {"nonstandard_end", "Нестандартный диапазон, до", Kind::Setting, kZet, 3, Word(21), false,
       [](const Decoded& d) { return std::to_string(d.pm.GetRangeMax()); },
       [](const Decoded& d) { return std::vector<Value>{{"nonstandard_end_degC", long{d.pm.GetRangeMax()}}}; }},
      {"nodes", "Коды узлов", Kind::Setting, kZet, 3,
       [] {
         std::vector<Bits> b;
         for (int at = 23; at <= 38; ++at) b.push_back({at, 0xFF});
         return b;
       }(),
       false,
       [](const Decoded& d) {
         std::string nodes;
         for (int m = 0; m < TProgPMClass::NodeCount; ++m) nodes += (m ? " " : "") + std::to_string(d.pm.GetNode(m));
         return nodes;
       },
       [](const Decoded& d) {
         std::vector<long> nodes;
         for (int m = 0; m < TProgPMClass::NodeCount; ++m) nodes.push_back(d.pm.GetNode(m));
         return std::vector<Value>{{"nodes", nodes}};
       }},
      {"ktxc", "Коэффициент расчета поправки Тхс", Kind::Setting, kTp, 1, Word(17), false,
       [](const Decoded& d) { return std::to_string(d.pm.GetKTxc()); },
       [](const Decoded& d) { return std::vector<Value>{{"ktxc", long{d.pm.GetKTxc()}}}; }},

      // The instrument's own data.
      {"scale_start_code", "Код АЦП начала шкалы", Kind::Own, kAll, 1, Word(1), false,
       [](const Decoded& d) { return std::to_string(d.pm.GetKBegSk()); },
       [](const Decoded& d) { return std::vector<Value>{{"scale_start_code", long{d.pm.GetKBegSk()}}}; }},
      {"scale_end_code", "Код АЦП конца шкалы", Kind::Own, kAll, 1, Word(3), false,
       [](const Decoded& d) { return std::to_string(d.pm.GetKEndSk()); },
       [](const Decoded& d) { return std::vector<Value>{{"scale_end_code", long{d.pm.GetKEndSk()}}}; }},
      {"txc_start_code", "Тхс (0 °С)", Kind::Own, kTp, 1, Word(13), false,
       [](const Decoded& d) { return std::to_string(d.pm.GetBegSkTxc()); },
       [](const Decoded& d) { return std::vector<Value>{{"txc_start_code", long{d.pm.GetBegSkTxc()}}}; }},
      {"txc_end_code", "Тхс (100 °С)", Kind::Own, kTp, 1, Word(15), false,
       [](const Decoded& d) { return std::to_string(d.pm.GetEndSkTxc()); },
       [](const Decoded& d) { return std::vector<Value>{{"txc_end_code", long{d.pm.GetEndSkTxc()}}}; }},
      {"current_start", "Коррекция тока в начале шкалы", Kind::Own, kAll, 2, {{5, 0xF0}}, false,
       [](const Decoded& d) { return Item(CurrentStartItems(), d.pm.GetCurrent() & 0x0F); },
       [](const Decoded& d) { return std::vector<Value>{{"current_start_uA", StartMicroamps(d.pm.GetCurrent() & 0x0F)}}; }},
      {"current_end", "Коррекция тока в конце шкалы", Kind::Own, kKard | kLunt, 4, {{13, 0x0F}}, false,
       [](const Decoded& d) { return Item(CurrentEndItems(), d.pm.GetCurrentEndKA()); },
       [](const Decoded& d) { return std::vector<Value>{{"current_end_uA", EndMicroamps(d.pm.GetCurrentEndKA())}}; }},
      {"current_end", "Коррекция тока в конце шкалы", Kind::Own, kZet, 4, {{39, 0x0F}}, false,
       [](const Decoded& d) { return Item(CurrentEndItems(), d.pm.GetCurrentEndZ()); },
       [](const Decoded& d) { return std::vector<Value>{{"current_end_uA", EndMicroamps(d.pm.GetCurrentEndZ())}}; }},
      {"address", "Номер прибора", Kind::Own, kAll, 1, {{12, 0xFF}}, false,
       [](const Decoded& d) { return std::to_string(d.pm.GetNu() + 1); },
       [](const Decoded& d) { return std::vector<Value>{{"address", long{d.pm.GetNu() + 1}}}; }},
      {"access_mode", "Режим программирования", Kind::Own, kAll, 1, {}, false,
       [](const Decoded& d) {
         return d.access == Access::Unknown ? std::string("не записан в файле")
                                            : pmdev::AccessModeText(d.access == Access::NonPrivileged);
       },
       [](const Decoded& d) {
         return d.access == Access::Unknown ? std::vector<Value>{}
                                            : std::vector<Value>{{"privileged", d.access == Access::Privileged}};
       }},
  };
  return table;
}

bool Present(const Spec& s, int model, int version, int length) {
  if (!(s.models & ModelBit(model)) || std::max(version, 1) < s.fromVersion) return false;
  return std::all_of(s.bits.begin(), s.bits.end(), [length](const Bits& b) { return b.at < length; });
}

}  // namespace

Access AccessOf(const TProgPMClass& pm) { return pm.NonPriv ? Access::NonPrivileged : Access::Privileged; }

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

std::vector<Field> Describe(const BlockView& b) {
  const Decoded d = Record(b);
  const int length = d.pm.GetLen();
  std::vector<Field> out;
  for (const Spec& s : Table()) {
    if (!Present(s, b.model, b.version, length)) continue;
    Field f{s.key, s.label, s.text(d), s.kind, {}, s.operatorMay, s.values(d)};
    for (const Bits& bit : s.bits) f.bits[static_cast<std::size_t>(bit.at)] |= bit.mask;
    out.push_back(std::move(f));
  }
  if (length > 0) {
    const int last = d.pm.Image[static_cast<std::size_t>(length)];
    Field f{"last_byte", "Последний байт блока", Hex(last), Kind::Own, {}, false, {{"last_byte", long{last}}}};
    f.bits[static_cast<std::size_t>(length)] = 0xFF;
    out.push_back(std::move(f));
  }
  return out;
}

std::vector<Field> DescribeMeasurement(const BlockView& b, std::span<const std::uint8_t> measurement) {
  TProgPMClass pm = Record(b).pm;
  pm.LoadMeas(measurement);
  const bool zet = b.model == kModelZetTS || b.model == kModelZetTP;
  std::vector<Field> out;
  auto add = [&out](std::string key, std::string label, std::string text, std::vector<Value> values) {
    out.push_back({std::move(key), std::move(label), std::move(text), Kind::Own, {}, false, std::move(values)});
  };
  const int rez = pm.GetRez();
  const long double percent = zet ? pmdev::CodeToPercent8191(rez) : pmdev::CodeToPercent16383(rez);
  add("result_code", "Результат в кодах", std::to_string(rez), {{"result_code", long{rez}}});
  add("result_percent", "Результат в %", pmdev::Format(percent, pmdev::kFmtResultPercent),
      {{"result_percent", Rounded(percent)}});
  if (zet)
    add("result_degC", "Результат в °С", pmdev::Format(pm.CodeToDegC(rez), pmdev::kFmtResultDegC),
        {{"result_degC", Rounded(pm.CodeToDegC(rez))}});
  else
    add("result_mA", "Результат в мА", pmdev::Format(pmdev::CodeToMA(rez), pmdev::kFmtResultMA),
        {{"result_mA", Rounded(pmdev::CodeToMA(rez))}});
  add("adc_code", "Текущий код АЦП", std::to_string(pm.GetKodACP()), {{"adc_code", long{pm.GetKodACP()}}});
  const pmdev::StatusDisplay state = pmdev::MeasurementState(pm.GetStatus());
  add("state", "Состояние измерения", state.digits + " " + (state.fault ? state.text : "Норма"),
      {{"state_code", long{pm.GetStatus()}}});
  if (b.model == kModelZetTP) {
    add("txc_code", "Тхс в кодах", std::to_string(pm.GetTxc()), {{"txc_code", long{pm.GetTxc()}}});
    add("txc_adc_code", "Текущий код АЦП Тхс", std::to_string(pm.GetKodTxc()), {{"txc_adc_code", long{pm.GetKodTxc()}}});
  }
  return out;
}

ByteMask BitsOf(const std::vector<Field>& fields) {
  ByteMask m{};
  for (const Field& f : fields)
    for (std::size_t i = 0; i < m.size(); ++i) m[i] |= f.bits[i];
  return m;
}

std::vector<Row> Compare(const BlockView& mine, const BlockView& theirs, Part part) {
  const auto a = Describe(mine), b = Describe(theirs);
  auto byteAt = [](const BlockView& v, std::size_t at) -> int {
    return at >= 1 && at <= v.block.size() ? v.block[at - 1] : 0;
  };
  std::vector<Row> out;
  for (const Field& f : a) {
    if (part == Part::Settings && f.kind != Kind::Setting) continue;
    const auto other = std::find_if(b.begin(), b.end(), [&f](const Field& g) { return g.key == f.key; });
    Row r{f.key, f.label, f.text, other == b.end() ? std::string() : other->text, f.kind, false};
    // Settings are compared by what a load writes, their bits: a range or a
    // setpoint in degrees may also read bytes a load leaves alone.
    r.differs = part == Part::Whole && (other == b.end() || other->text != f.text);
    for (std::size_t i = 1; i < f.bits.size() && !r.differs; ++i)
      r.differs = ((byteAt(mine, i) ^ byteAt(theirs, i)) & f.bits[i]) != 0;
    // An access mode a file did not record differs from nothing.
    if (f.key == "access_mode" && (mine.access == Access::Unknown || theirs.access == Access::Unknown))
      r.differs = false;
    out.push_back(std::move(r));
  }
  if (part == Part::Whole) {
    const ByteMask shown = BitsOf(a);
    const std::size_t length = std::max(mine.block.size(), theirs.block.size());
    for (std::size_t i = 1; i <= length && i < shown.size(); ++i) {
      const int x = byteAt(mine, i), y = byteAt(theirs, i);
      if (((x ^ y) & ~shown[i] & 0xFF) == 0) continue;
      out.push_back({"byte_" + std::to_string(i), "Байт " + std::to_string(i), Hex(x), Hex(y), Kind::Own, true});
    }
  }
  return out;
}

std::vector<Row> ReadBackDifferences(const BlockView& sent, const BlockView& back, const ByteMask& wrote) {
  const std::vector<Field> a = Describe(sent), b = Describe(back);
  const std::size_t length = std::min({sent.block.size(), back.block.size(), wrote.size() - 1});
  const auto changed = [&](std::size_t i, std::uint8_t bits) {
    return ((sent.block[i - 1] ^ back.block[i - 1]) & bits & wrote[i]) != 0;
  };
  std::vector<Row> out;
  for (const Field& f : a) {
    bool differs = false;
    for (std::size_t i = 1; i <= length && !differs; ++i) differs = changed(i, f.bits[i]);
    if (!differs) continue;
    const auto other = std::find_if(b.begin(), b.end(), [&f](const Field& g) { return g.key == f.key; });
    out.push_back({f.key, f.label, f.text, other == b.end() ? std::string() : other->text, f.kind, true});
  }
  const ByteMask shown = BitsOf(a);
  for (std::size_t i = 1; i <= length; ++i)
    if (changed(i, static_cast<std::uint8_t>(~shown[i])))
      out.push_back({"byte_" + std::to_string(i), "Байт " + std::to_string(i), Hex(sent.block[i - 1]),
                     Hex(back.block[i - 1]), Kind::Own, true});
  return out;
}

}  // namespace pmset
