// Sensor lists, table keys, the standard range tables and the scale lists
// built from them.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>

#include "Identification.h"
#include "RangeLists.h"
#include "RangeTables.h"
#include "SensorLists.h"

using namespace pmdev;
using Items = std::vector<std::string>;

namespace {

bool IsAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

TEST(DeviceSensors, ListsPerModelAndVersion) {
  EXPECT_EQ(SensorList(kModelKard, 1), (Items{"корневой", "линейный"}));
  const Items tp{"XK(L)", "XK(E)", "XA(K)", "ЖК(J)", "MK(T)", "ПП(S)", "ПП(R)", "BP(A1)", "BP(A2)", "BP(A3)"};
  EXPECT_EQ(SensorList(kModelZetTP, 5), tp);
  EXPECT_EQ(SensorList(kModelZetTP, 7), tp);
  EXPECT_EQ(SensorList(kModelZetTP, 6), Items(tp.begin(), tp.begin() + 7));
  const Items ts{"100П", "50П", "Pt100", "Ni", "100M", "50M"};
  EXPECT_EQ(SensorList(kModelZetTS, 1), ts);
  EXPECT_EQ(SensorList(kModelZetTS, 5), ts);
  Items ts6 = ts;
  ts6.insert(ts6.end(), {"21", "23"});
  EXPECT_EQ(SensorList(kModelZetTS, 6), ts6);
  EXPECT_TRUE(SensorList(kModelZetTS, 7).empty());  // unknown firmware: no list
  EXPECT_TRUE(SensorList(kModelLunt, 4).empty());
  EXPECT_TRUE(SensorList(104, 4).empty());
}

TEST(DeviceSensors, LatinAndCyrillicLetters) {
  // Names written in Latin letters must be pure ASCII; the others carry
  // Cyrillic letters. A look-alike letter would break the literal compares.
  const std::set<std::string> latin{"XK(L)", "XK(E)", "XA(K)", "MK(T)", "BP(A1)", "BP(A2)",
                                    "BP(A3)", "Pt100", "Ni", "100M", "50M", "21", "23"};
  Items all = SensorList(kModelZetTP, 5);
  for (const auto& n : SensorList(kModelZetTS, 6)) all.push_back(n);
  for (const auto& n : SensorList(kModelKard, 1)) all.push_back(n);
  for (const auto& name : all) EXPECT_EQ(IsAscii(name), latin.count(name) == 1) << name;
  EXPECT_EQ(SensorList(kModelZetTS, 5)[0], "100\xD0\x9F");  // Cyrillic П
}

TEST(DeviceSensors, NonStandardCapable) {
  EXPECT_EQ(NonStandardSensors().size(), 10u);
  for (const char* s : {"XK(L)", "XK(E)", "XA(K)", "ЖК(J)", "100П", "50П", "Pt100", "Ni", "100M", "50M"})
    EXPECT_TRUE(AdmitsNonStandard(s)) << s;
  for (const char* s : {"MK(T)", "ПП(S)", "ПП(R)", "BP(A1)", "21", "23", "корневой",
                        "ХК(L)" /* Cyrillic Х, К */, "100П " /* trailing blank */, "100P" /* Latin P */})
    EXPECT_FALSE(AdmitsNonStandard(s)) << s;
  EXPECT_FALSE(NonStandardEnabled(2, "XK(L)"));
  EXPECT_TRUE(NonStandardEnabled(3, "XK(L)"));
  EXPECT_FALSE(NonStandardEnabled(5, "BP(A1)"));
}

TEST(DeviceRanges, TableSizes) {
  EXPECT_EQ(std::size(kT1), 13u);
  EXPECT_EQ(std::size(kT2), 13u);
  EXPECT_EQ(std::size(kT3), 6u);
  EXPECT_EQ(std::size(kT4), 2u);
  EXPECT_EQ(std::size(kT5), 2u);
  EXPECT_EQ(std::size(kT6), 47u);
  EXPECT_EQ(std::size(kT7), 11u);
  EXPECT_EQ(std::size(kT8), 28u);
}

TEST(DeviceRanges, KeysSelectTables) {
  const std::span<const RangeRow> expected[18] = {kT1, kT1, kT2, kT1, kT3, kT4, kT4, kT5, kT5,
                                                  kT5, kT6, kT6, kT6, kT7, kT8, kT8, kT6, kT8};
  for (int key = 0; key < 18; ++key) {
    EXPECT_EQ(TableForKey(key).data(), expected[key].data()) << key;
    EXPECT_EQ(TableForKey(key).size(), expected[key].size()) << key;
  }
  EXPECT_TRUE(TableForKey(18).empty());
  EXPECT_TRUE(TableForKey(-1).empty());
  EXPECT_EQ(TableKey(kModelZetTS, 2), 12);
  EXPECT_EQ(TableKey(kModelZetTP, 2), 2);
  EXPECT_EQ(TableKey(kModelKard, 1), 1);
}

TEST(DeviceRanges, TableRowsKeepProtocolOrder) {
  // Rows out of the sorted order are where a reordering would show.
  EXPECT_EQ(kT2[12].start, 0);
  EXPECT_EQ(kT2[12].end, 150);
  EXPECT_EQ(kT6[24].end, 600);
  EXPECT_EQ(kT6[42].start, -200);
  EXPECT_EQ(kT6[42].end, 600);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(kT8[i].start, kT6[i].start) << i;
    EXPECT_EQ(kT8[i].end, kT6[i].end) << i;
  }
  EXPECT_EQ(kT8[20].start, -30);
  EXPECT_EQ(kT8[20].end, 20);
}

TEST(DeviceRanges, EveryTableHasDistinctPairs) {
  for (int key = 0; key < 18; ++key) {
    std::set<std::pair<float, float>> seen;
    for (const RangeRow& r : TableForKey(key)) {
      EXPECT_TRUE(seen.insert({r.start, r.end}).second) << "key " << key << ": " << r.start << ".." << r.end;
      EXPECT_LT(r.start, r.end);
      EXPECT_EQ(r.start, std::trunc(r.start));
      EXPECT_EQ(r.end, std::trunc(r.end));
    }
  }
}

TEST(DeviceRanges, Pt100Range24) {
  const auto table = RangeTableFor(kModelZetTS, 5, 2);
  ASSERT_EQ(table.data(), kT6);
  const ScaleList starts = FillStartList(table, 24);
  EXPECT_EQ(starts.items, (Items{"-200", "-150", "-120", "-100", "-90", "-70", "-50", "-30", "-25",
                                 "-20", "0", "50", "100", "200", "-10"}));
  EXPECT_EQ(starts.selected, 6);
  ASSERT_TRUE(starts.value);
  EXPECT_EQ(*starts.value, -50.0f);

  const ScaleList ends = FillEndList(table, *starts.value, 24);
  EXPECT_EQ(ends.items, (Items{"0", "50", "100", "150", "200", "250", "400", "500", "600", "120"}));
  EXPECT_EQ(ends.selected, 8);
  ASSERT_TRUE(ends.value);
  EXPECT_EQ(*ends.value, 600.0f);
  EXPECT_EQ(FindRow(table, -50, 600, 0), 24);
}

TEST(DeviceRanges, StartMinus200EndsWithRow42) {
  const ScaleList ends = FillEndList(kT6, -200, 42);
  EXPECT_EQ(ends.items, (Items{"-150", "-100", "-70", "0", "40", "50", "70", "100", "150", "600"}));
  EXPECT_EQ(ends.selected, 9);
  EXPECT_EQ(*ends.value, 600.0f);
}

TEST(DeviceRanges, RowCountMarksNonStandard) {
  // "XK(L)" on a ZET-TP: T1 has 13 rows, so RangeNo 13 is non-standard.
  const auto table = RangeTableFor(kModelZetTP, 5, 0);
  EXPECT_EQ(table.size(), 13u);
  const ScaleList starts = FillStartList(table, 13);
  EXPECT_EQ(starts.selected, -1);
  EXPECT_FALSE(starts.value);
  EXPECT_FALSE(FillEndList(table, -120, 13).value);
}

TEST(DeviceRanges, StartWithSeveralEndsTakesFirstRow) {
  const int r = FirstRowWithStart(kT6, -50);
  EXPECT_EQ(r, 15);
  const ScaleList ends = FillEndList(kT6, -50, r);
  EXPECT_EQ(ends.selected, 0);
  EXPECT_EQ(*ends.value, 0.0f);
  EXPECT_EQ(FindRow(kT6, -50, *ends.value, r), 15);
  EXPECT_EQ(FirstRowWithStart(kT6, 12345), 0);
}

TEST(DeviceRanges, FindRowUnmatchedKeepsRow) {
  EXPECT_EQ(FindRow(kT1, -120, 31, 7), 7);
  EXPECT_EQ(FindRow(kT1, 150, 400, 0), 12);
  EXPECT_EQ(FindRow(kT1, 0, 100, 0), 4);
  EXPECT_EQ(FindRow({}, 0, 100, 3), 3);
}

TEST(DeviceRanges, SensorChangeToBpA1) {
  const auto table = RangeTableFor(kModelZetTP, 5, 7);
  const ScaleList starts = FillStartList(table, 0);
  EXPECT_EQ(starts.items, (Items{"100", "1000"}));
  EXPECT_EQ(*starts.value, 100.0f);
  const ScaleList ends = FillEndList(table, *starts.value, 0);
  EXPECT_EQ(ends.items, (Items{"1800"}));
  EXPECT_EQ(*ends.value, 1800.0f);
}

TEST(DeviceRanges, SensorOutsideItsListHasNoTable) {
  EXPECT_TRUE(RangeTableFor(kModelZetTP, 6, 7).empty());   // BP(A1) is not in the v6 list
  EXPECT_TRUE(RangeTableFor(kModelZetTP, 5, 10).empty());
  EXPECT_TRUE(RangeTableFor(kModelZetTS, 5, 6).empty());   // "21" only from version 6
  EXPECT_EQ(RangeTableFor(kModelZetTS, 6, 6).data(), kT6);
  EXPECT_EQ(RangeTableFor(kModelZetTS, 6, 7).data(), kT8);
  EXPECT_TRUE(RangeTableFor(kModelZetTS, 7, 0).empty());
  EXPECT_TRUE(RangeTableFor(kModelZetTS, 5, -1).empty());
  EXPECT_TRUE(RangeTableFor(kModelLunt, 4, 0).empty());
  EXPECT_EQ(RangeTableFor(kModelKard, 1, 1).data(), kT1);

  const ScaleList none = FillStartList({}, 0);
  EXPECT_TRUE(none.items.empty());
  EXPECT_EQ(none.selected, -1);
  EXPECT_FALSE(none.value);
  EXPECT_TRUE(FillEndList({}, 0, 0).items.empty());
}

TEST(DeviceRanges, ScaleFoundByARead) {
  // Pt100, RangeNo 24: standard.
  const ScaleSetup std24 = ScaleFromImage(kT6, 24, -7, 7);
  EXPECT_TRUE(std24.standard);
  EXPECT_EQ(std24.tmin, -50.0f);
  EXPECT_EQ(std24.tmax, 600.0f);
  EXPECT_EQ(std24.savedRange, 24);
  EXPECT_EQ(std24.starts.selected, 6);
  EXPECT_EQ(std24.ends.selected, 8);
  // Pt100, RangeNo 47 = row count: non-standard from RangeMin/RangeMax.
  const ScaleSetup ns = ScaleFromImage(kT6, 47, -45, 320);
  EXPECT_FALSE(ns.standard);
  EXPECT_EQ(ns.tmin, -45.0f);
  EXPECT_EQ(ns.tmax, 320.0f);
  EXPECT_EQ(ns.savedRange, 0);
  EXPECT_TRUE(ns.starts.items.empty());
  // No table: non-standard whatever RangeNo says.
  EXPECT_FALSE(ScaleFromImage({}, 0, 1, 2).standard);
  // Row 0 is standard and the last row too.
  EXPECT_EQ(ScaleFromImage(kT1, 0, 0, 0).tmin, -120.0f);
  EXPECT_EQ(ScaleFromImage(kT1, 12, 0, 0).tmax, 400.0f);
}

TEST(DeviceRanges, ItemTexts) {
  EXPECT_EQ(FloatText(-120.0f), "-120");
  EXPECT_EQ(FloatText(0.0f), "0");
  EXPECT_EQ(FloatText(1300.0f), "1300");
  EXPECT_EQ(FloatText(12.5f), "12.5");
  EXPECT_EQ(ParseItemText("-120"), -120.0f);
  EXPECT_EQ(ParseItemText("1300"), 1300.0f);
  EXPECT_FALSE(ParseItemText(""));
  EXPECT_FALSE(ParseItemText("12a"));
}

}  // namespace
