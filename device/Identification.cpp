#include "Identification.h"

#include <algorithm>

namespace pmdev {

std::optional<Identity> ParseIdentity(std::span<const std::uint8_t> frame) {
  if (frame.size() < 6) return std::nullopt;
  Identity id;
  id.version = frame[3];
  id.correction = frame[4] >> 4;
  id.model = frame[5];
  return id;
}

ModelClass ClassifyModel(int modelCode) {
  switch (modelCode) {
    case kModelKard: return ModelClass::Kard;
    case kModelZetTS: return ModelClass::ZetTS;
    case kModelZetTP: return ModelClass::ZetTP;
    case kModelLunt: return ModelClass::Lunt;
    case kModelUndetermined: return ModelClass::Undetermined;
    default: return ModelClass::Foreign;
  }
}

std::string ModelName(int modelCode) {
  switch (modelCode) {
    case kModelKard: return "КАРД";
    case kModelZetTS: return "ЗЕТ-ТС";
    case kModelZetTP: return "ЗЕТ-ТП";
    case kModelLunt: return "ЛУНТ";
    default: return {};
  }
}

namespace {

struct FullLine {
  int model;
  int fromVersion;
  const char* text;
};

// The full lines are fixed texts: the version written inside them is part of
// the text and is not the instrument's version.
constexpr FullLine kFullLines[] = {
    {kModelKard, 5, "КАРД  700100.003  ПО.V5  0xA1000001"},
    {kModelZetTS, 5, "ЗЕТ-ТС ЛВ  700200.002  ПО.V5  0xA1000003"},
    {kModelZetTP, 5, "ЗЕТ-ТП ЛВ  700300.003  ПО.V4  0xA1000004"},
    {kModelLunt, 2, "ЛУНТ  700100.005  ПО.V2  0xA1000002"},
};

constexpr int kFullLeft = 170, kFullWidth = 300;
constexpr int kShortLeft = 272, kShortWidth = 73;

}  // namespace

IdentificationLine IdentificationText(int modelCode, int version) {
  for (const auto& line : kFullLines)
    if (line.model == modelCode && version >= line.fromVersion)
      return {line.text, kFullLeft, kFullWidth};
  const std::string name = ModelName(modelCode);
  if (name.empty()) return {"", kShortLeft, kShortWidth};
  return {name + "-v" + std::to_string(version), kShortLeft, kShortWidth};
}

std::string UndeterminedTypeWarning(int deviceNumber) {
  return "устройство " + std::to_string(deviceNumber) + " - не определен тип прибора" +
         "\nДанные не считаны";
}

std::string ForeignDeviceWarning(int deviceNumber) {
  return "устройство " + std::to_string(deviceNumber) + " - не ЗЕТ, не КАРД и не ЛУНТ" +
         "\nДанные не считаны";
}

std::string AccessModeText(int nonPriv) {
  return nonPriv ? "непривилегированный" : "привилегированный";
}

Rgb AccessModeColour(int nonPriv) { return nonPriv ? kNavy : kRed; }

const std::vector<std::string>& PrivilegedControls() {
  static const std::vector<std::string> names = {
      "Button1", "Button2", "CBoxTipD", "CBoxMin", "CBoxMax",
      "CBoxConnect", "KalibrBegSk", "KalibrEndSk", "CBoxCurrent", "CBoxCurrentEnd"};
  return names;
}

Features FeaturesFor(int modelCode, int version) {
  const ModelClass m = ClassifyModel(modelCode);
  const bool kard = m == ModelClass::Kard, ts = m == ModelClass::ZetTS,
             tp = m == ModelClass::ZetTP, lunt = m == ModelClass::Lunt;
  Features f;
  if (!(kard || ts || tp || lunt)) return f;
  const bool zet = ts || tp;
  f.codes = true;
  f.resultMA = kard || lunt;
  f.resultDegC = zet;
  f.alarms = !lunt;
  f.setpointsInDegC = zet;
  f.breakState = version >= 2;
  f.currentStart = version >= 2;
  f.contactType = !lunt && version >= 3;
  f.currentEnd = version >= 4;
  f.sensorType = !lunt;
  f.range = zet;
  f.nonStandardFromVersion = zet && version >= 3;
  f.connection = ts && version >= 3;
  f.coldJunction = tp;
  f.sensorResistance = ts && version == 6;
  f.thermocoupleEmf = tp && version == 6;
  f.outputControl = lunt;
  return f;
}

std::vector<std::string> VisibleControls(const Features& f) {
  std::vector<std::string> out;
  auto add = [&out](std::initializer_list<const char*> names) {
    for (const char* n : names)
      if (std::find(out.begin(), out.end(), n) == out.end()) out.emplace_back(n);
  };
  if (f.codes) add({"StKBegSk", "StKEndSk", "StKodACP", "StRez", "StRezProc", "StSost"});
  if (f.resultMA || f.resultDegC) add({"StRezGrMA"});
  if (f.alarms) add({"CBoxTipSign", "StUstKod1", "StUstKod2", "UstProc1", "UstProc2", "StNar"});
  if (f.breakState) add({"LabBreak", "CBoxBreak"});
  if (f.currentStart) add({"LabCurrent", "CBoxCurrent"});
  if (f.contactType) add({"LabTipKont", "CBoxTipK"});
  if (f.currentEnd) add({"LabCurrentEnd", "CBoxCurrentEnd"});
  if (f.sensorType) add({"Label4", "CBoxTipD"});
  if (f.range) add({"Label5", "CBoxMin", "CBoxMax", "GBoxNonStand"});
  if (f.connection) add({"Label26", "CBoxConnect"});
  if (f.coldJunction) add({"GBoxZETTP"});
  if (f.sensorResistance || f.thermocoupleEmf) add({"Label28", "StRt"});
  if (f.outputControl) add({"Label24", "ButSwitch", "Label25", "Edit1"});
  return out;
}

}  // namespace pmdev
