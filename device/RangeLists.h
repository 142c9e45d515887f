#pragma once
// Builders of the scale lists CBoxMin and CBoxMax. They return the items and
// the selection; the main window only copies them into its combo boxes and
// takes TMin/TMax from the result.
//
// Items are the shortest decimal form of the float ("-120", "0", "1300").
// Table values and item values are compared by exact numeric equality.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "RangeRow.h"

namespace pmdev {

// Shortest decimal text of a float, without exponent.
std::string FloatText(float value);
// Reads an item text back ("-120", "12.5"); nullopt for anything else.
std::optional<float> ParseItemText(std::string_view text);

struct ScaleList {
  std::vector<std::string> items;
  int selected = -1;            // item index, -1 when none
  std::optional<float> value;   // value of the selected item: the new TMin/TMax
};

// CBoxMin: each distinct start of the table once, in order of first
// occurrence; the item equal to the start of `row` is selected and is the
// new TMin. A row outside the table selects nothing and gives no value (the
// caller leaves TMin as it is); an empty table gives no items.
ScaleList FillStartList(std::span<const RangeRow> table, int row);

// CBoxMax: in table order, the end of every row whose start equals `start`
// (the value of CBoxMin); the item equal to the end of `row` is selected and
// is the new TMax. When none is equal (row outside the table, or a row with
// another start) nothing is selected and no value is given.
ScaleList FillEndList(std::span<const RangeRow> table, float start, int row);

// The last row whose start equals `start` and whose end equals `end`; `r`
// when no row matches.
int FindRow(std::span<const RangeRow> table, float start, float end, int r);

// The first row whose start equals `start`; 0 when none.
int FirstRowWithStart(std::span<const RangeRow> table, float start);

// The scale of a ZET instrument as a read finds it. A RangeNo below the
// table's row count is a standard range: both lists are built for that row
// and TMin/TMax are their selected values, SavedRange = RangeNo. Otherwise
// the range is non-standard: no lists, TMin/TMax = RangeMin/RangeMax,
// SavedRange = 0. (A TipD with no table has row count 0, so its range is
// always taken as non-standard.)
struct ScaleSetup {
  bool standard = false;
  ScaleList starts;
  ScaleList ends;
  float tmin = 0.0f;
  float tmax = 0.0f;
  int savedRange = 0;
};

ScaleSetup ScaleFromImage(std::span<const RangeRow> table, int rangeNo, int rangeMin, int rangeMax);

}  // namespace pmdev
