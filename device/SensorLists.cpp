#include "SensorLists.h"

#include <algorithm>

#include "Identification.h"
#include "RangeTables.h"

namespace pmdev {

std::vector<std::string> SensorList(int modelCode, int version) {
  switch (modelCode) {
    case kModelKard:
      return {"корневой", "линейный"};
    case kModelZetTP:
      if (version == 6) return {"XK(L)", "XK(E)", "XA(K)", "ЖК(J)", "MK(T)", "ПП(S)", "ПП(R)"};
      return {"XK(L)", "XK(E)", "XA(K)", "ЖК(J)", "MK(T)",
              "ПП(S)", "ПП(R)", "BP(A1)", "BP(A2)", "BP(A3)"};
    case kModelZetTS:
      if (version <= 5) return {"100П", "50П", "Pt100", "Ni", "100M", "50M"};
      if (version == 6) return {"100П", "50П", "Pt100", "Ni", "100M", "50M", "21", "23"};
      return {};
    default:
      return {};
  }
}

int TableKey(int modelCode, int tipD) { return modelCode == kModelZetTS ? tipD + 10 : tipD; }

std::span<const RangeRow> RangeTableFor(int modelCode, int version, int tipD) {
  const auto list = SensorList(modelCode, version);
  if (tipD < 0 || tipD >= static_cast<int>(list.size())) return {};
  return TableForKey(TableKey(modelCode, tipD));
}

const std::vector<std::string>& NonStandardSensors() {
  static const std::vector<std::string> names = {"XK(L)", "XK(E)", "XA(K)", "ЖК(J)", "100П",
                                                 "50П",   "Pt100", "Ni",    "100M",  "50M"};
  return names;
}

bool AdmitsNonStandard(std::string_view sensorText) {
  const auto& names = NonStandardSensors();
  return std::find(names.begin(), names.end(), sensorText) != names.end();
}

bool NonStandardEnabled(int version, std::string_view sensorText) {
  return version >= 3 && AdmitsNonStandard(sensorText);
}

}  // namespace pmdev
