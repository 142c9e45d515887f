#pragma once
// Sensor-type lists of CBoxTipD, the table key of a sensor type and the
// sensor types that admit a non-standard range.
//
// The texts are compared literally. "XK(L)", "XK(E)", "XA(K)", "MK(T)",
// "BP(A1)", "BP(A2)", "BP(A3)", "Pt100", "Ni", "100M", "50M" are written in
// Latin letters; "ЖК(J)", "ПП(S)", "ПП(R)", "100П", "50П", "корневой",
// "линейный" contain Cyrillic letters.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "RangeRow.h"

namespace pmdev {

// The CBoxTipD list of a model and firmware version (item index = TipD):
//   KARD: "корневой", "линейный";
//   ZET-TP: ten thermocouples, at version 6 the first seven;
//   ZET-TS: six resistance thermometers up to version 5, version 6 adds
//           "21" and "23". Versions above 6 are not known: empty list.
//   LUNT and any other model: empty list (no sensor selection).
std::vector<std::string> SensorList(int modelCode, int version);

// Table key: TipD + 10 for the ZET-TS, TipD for every other model.
int TableKey(int modelCode, int tipD);

// The standard range table of a sensor as the main window uses it. A TipD
// that is not an index of the model's list (SensorList) selects no table:
// the span is empty, its row count 0, so the range shown is taken as
// non-standard (TMin/TMax from RangeMin/RangeMax).
std::span<const RangeRow> RangeTableFor(int modelCode, int version, int tipD);

// The ten sensor types that admit a non-standard range (they have reference
// tables): "XK(L)", "XK(E)", "XA(K)", "ЖК(J)", "100П", "50П", "Pt100", "Ni",
// "100M", "50M".
const std::vector<std::string>& NonStandardSensors();
bool AdmitsNonStandard(std::string_view sensorText);

// ChBoxNonStand is enabled from version 3 for those ten sensor types.
bool NonStandardEnabled(int version, std::string_view sensorText);

}  // namespace pmdev
