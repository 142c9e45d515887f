// The range fit: the checks and their order, the table reader's edge cases,
// and fits on synthetic and on the real reference tables.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <unistd.h>

#include "RangeCalc.h"
#include "RangeDeviation.h"
#include "RangeInput.h"
#include "ScriptedMessageService.h"

namespace fs = std::filesystem;
using pmrange::LoadStatus;

namespace {

const std::string kNoRange = "не выбран диапазон\n расчет не произведен";
const std::string kBadRange = "ошибка выбора диапазона\n расчет не произведен";
const std::string kNarrow = "недопустимо узкий диапазон\n расчет не произведен";
const std::string kStandard = "выбран стандарт. диапазон \n расчет не произведен";
const std::string kCannotOpen = "Файл  не удается открыть";

// A table text of whole degrees first..last (step), signal f(t).
std::string TableText(int first, int last, int step, const std::function<double(int)>& f, bool marker = true) {
  std::ostringstream out;
  out.precision(17);
  for (int t = first; t <= last; t += step) out << t << ' ' << f(t) << '\n';
  if (marker) out << "-300 0\n";
  return out.str();
}

class RangeCalc : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("pm_range_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    calc_.tableDirs = {dir_.string()};
  }
  void TearDown() override { fs::remove_all(dir_); }

  void Write(const std::string& file, const std::string& text) { std::ofstream(dir_ / file) << text; }
  void UseRealTables() { calc_.tableDirs = {PM_TEST_TABLES}; }

  std::optional<std::array<double, 8>> Calc(const std::string& sensor, double start, double end,
                                            std::span<const pmdev::RangeRow> std = {}) {
    msg_.Clear();
    return calc_.CalcNonStandardRange(sensor, start, end, std);
  }
  // The calculation was refused with exactly one warning of this text.
  void ExpectWarning(const std::string& text) {
    ASSERT_EQ(msg_.shown.size(), 1u);
    EXPECT_EQ(msg_.Last().text, text);
    EXPECT_EQ(msg_.Last().caption, "Предупреждение");
    EXPECT_EQ(msg_.Last().icon, ui::Icon::Warning);
    EXPECT_EQ(msg_.Last().buttons, ui::Buttons::Ok);
  }
  void ExpectCalculated(const std::optional<std::array<double, 8>>& r) {
    EXPECT_TRUE(r.has_value());
    EXPECT_TRUE(msg_.shown.empty()) << (msg_.shown.empty() ? "" : msg_.Last().text);
  }

  fs::path dir_;
  ui::ScriptedMessageService msg_;
  pmrange::RangeCalculator calc_{msg_};
};

TEST_F(RangeCalc, LinearTableGivesTheNodePositions) {
  Write("PT100.txt", TableText(-200, 650, 1, [](int t) { return 100 + 0.39 * t; }));
  auto r = Calc("Pt100", -37, 412);
  ExpectCalculated(r);
  ASSERT_TRUE(r);
  for (int k = 0; k < 8; ++k) {
    EXPECT_NEAR((*r)[k], pmrange::kNodePos[k], 1e-6) << k;
    EXPECT_EQ(pmrange::FormatNodeCode((*r)[k]), std::to_string(static_cast<int>(pmrange::kNodePos[k])));
  }
  EXPECT_LT(calc_.FittedError(), 1e-18);
}

TEST_F(RangeCalc, WidthLimitsPerSensor) {
  UseRealTables();
  struct Case {
    const char* sensor;
    double minWidth;
  };
  for (const Case& c : {Case{"Pt100", 20}, Case{"100П", 20}, Case{"50П", 40}, Case{"XA(K)", 30}, Case{"XK(L)", 20},
                        Case{"XK(E)", 25}, Case{"ЖК(J)", 25}, Case{"100M", 20}, Case{"50M", 40}, Case{"Ni", 20}}) {
    SCOPED_TRACE(c.sensor);
    EXPECT_FALSE(Calc(c.sensor, 0, c.minWidth - 1));
    ExpectWarning(kNarrow);
    ExpectCalculated(Calc(c.sensor, 0, c.minWidth));
  }
}

TEST_F(RangeCalc, EndsMustLieInTheTable) {
  UseRealTables();
  EXPECT_FALSE(Calc("Pt100", -201, 0));
  ExpectWarning(kBadRange);
  EXPECT_FALSE(Calc("Pt100", 0, 651));
  ExpectWarning(kBadRange);
  EXPECT_FALSE(Calc("XA(K)", -51, 100));
  ExpectWarning(kBadRange);
  ExpectCalculated(Calc("Pt100", -200, 650));  // the full span
  ExpectCalculated(Calc("XA(K)", -50, 1100));
  ExpectCalculated(Calc("100M", -200, 200));

  // Ends between the table's temperatures are no table points.
  EXPECT_FALSE(Calc("Pt100", 0.5, 100));
  ExpectWarning(kBadRange);
  EXPECT_FALSE(Calc("Pt100", 0, 99.5));
  ExpectWarning(kBadRange);
}

TEST_F(RangeCalc, StandardRangeRefusedShiftedOneCalculated) {
  UseRealTables();
  const pmdev::RangeRow rows[] = {{-50.0f, 50.0f}, {0.0f, 100.0f}, {0.0f, 650.0f}};
  EXPECT_FALSE(Calc("Pt100", 0, 100, rows));
  ExpectWarning(kStandard);
  EXPECT_FALSE(Calc("Pt100", -50, 50, rows));
  ExpectWarning(kStandard);
  ExpectCalculated(Calc("Pt100", 1, 101, rows));
  ExpectCalculated(Calc("Pt100", 0, 101, rows));
  ExpectCalculated(Calc("Pt100", -51, 50, rows));
  // Only the rows handed in count.
  ExpectCalculated(Calc("Pt100", 0, 650, std::span(rows).first(2)));
}

TEST_F(RangeCalc, ChecksComeInTheirOrder) {
  UseRealTables();
  // The file is read first: an unknown sensor or a missing file is reported
  // as such, whatever the range.
  // Look-alike letters: Cyrillic Х, М, К where Latin ones belong and back.
  for (const char* sensor : {"Pt1000", "21", "XK(L) ", "ХК(L)", "100М", "ЖK(J)", "100P", ""}) {
    EXPECT_FALSE(Calc(sensor, 5, 5));
    ASSERT_EQ(msg_.shown.size(), 1u) << sensor;
    EXPECT_EQ(msg_.Last().text, kCannotOpen);
    EXPECT_EQ(msg_.Last().caption, "");
    EXPECT_EQ(msg_.Last().icon, ui::Icon::None);
  }
  calc_.tableDirs = {dir_.string()};  // no files here
  EXPECT_FALSE(Calc("Pt100", 0, 100));
  EXPECT_EQ(msg_.Texts(), std::vector<std::string>{kCannotOpen});
  UseRealTables();

  // Equal ends come first, even far outside the table.
  EXPECT_FALSE(Calc("Pt100", 5000, 5000));
  ExpectWarning(kNoRange);
  // Then the order of the ends, before width and table limits.
  EXPECT_FALSE(Calc("Pt100", 5000, 4990));
  ExpectWarning(kBadRange);
  // Width before the table limits.
  EXPECT_FALSE(Calc("Pt100", 5000, 5010));
  ExpectWarning(kNarrow);
  // Table limits before the standard list.
  const pmdev::RangeRow rows[] = {{0.0f, 700.0f}};
  EXPECT_FALSE(Calc("Pt100", 0, 700, rows));
  ExpectWarning(kBadRange);
}

TEST_F(RangeCalc, MarkerAndEntryCap) {
  auto t = std::make_unique<pmrange::RefTable>();
  // −273 is still a temperature, anything below ends the table.
  EXPECT_EQ(pmrange::ParseRefTable("-273 1 -272 2\n-271\t3 -270 4 -273.5 0 garbage", *t), LoadStatus::Ok);
  EXPECT_EQ(t->Count, 4);
  EXPECT_EQ(t->Temp[0], -273);
  EXPECT_EQ(t->Signal[3], 4);
  EXPECT_EQ(pmrange::ParseRefTable("1e1 1.5E-1 20 +2 30. 3 40 4 -3e2 0", *t), LoadStatus::Ok);
  EXPECT_EQ(t->Count, 4);
  EXPECT_EQ(t->Temp[0], 10);
  EXPECT_EQ(t->Signal[0], 0.15);

  // 2775 pairs without a marker are all taken; a 2776th is not read.
  const std::string full = TableText(-270, -270 + 2774, 1, [](int v) { return 1000 + v; }, false);
  EXPECT_EQ(pmrange::ParseRefTable(full, *t), LoadStatus::Ok);
  EXPECT_EQ(t->Count, 2775);
  EXPECT_EQ(pmrange::ParseRefTable(full + "what ever\n", *t), LoadStatus::Ok);
  EXPECT_EQ(t->Count, 2775);

  Write("XAK.txt", full);
  ExpectCalculated(Calc("XA(K)", 2400, 2504));  // ends at the last entry
  EXPECT_EQ(calc_.EndIndex(), 2774);
}

TEST_F(RangeCalc, BrokenTablesAreRefused) {
  auto t = std::make_unique<pmrange::RefTable>();
  EXPECT_EQ(pmrange::ParseRefTable("0 1 1 2 2 x 3 4 -300 0", *t), LoadStatus::Malformed);
  EXPECT_EQ(pmrange::ParseRefTable("0 1 1 2 2 3 3 4 4 5", *t), LoadStatus::Malformed);  // no marker
  EXPECT_EQ(pmrange::ParseRefTable("0 1 1 2 2 3 3 4 -300", *t), LoadStatus::Malformed);  // half a marker
  EXPECT_EQ(pmrange::ParseRefTable("0 1 1 2 2 3 3 4,5 -300 0", *t), LoadStatus::Malformed);
  EXPECT_EQ(pmrange::ParseRefTable("0 1 1 2 2 3 3 nan -300 0", *t), LoadStatus::Malformed);
  EXPECT_EQ(pmrange::ParseRefTable("0 1 1 2 2 3 -300 0", *t), LoadStatus::TooFew);
  EXPECT_EQ(pmrange::ParseRefTable("-300 0", *t), LoadStatus::TooFew);
  EXPECT_EQ(pmrange::ParseRefTable("0 1 1 2 2 2 3 4 -300 0", *t), LoadStatus::NotIncreasing);
  EXPECT_EQ(pmrange::ParseRefTable("0 1 1 2 1 3 3 4 -300 0", *t), LoadStatus::NotIncreasing);

  // The calculation names the file and computes nothing.
  auto refused = [&](const std::string& text, const std::string& part) {
    Write("N100.txt", text);
    EXPECT_FALSE(Calc("Ni", 0, 100));
    ASSERT_EQ(msg_.shown.size(), 1u);
    EXPECT_NE(msg_.Last().text.find("N100.txt"), std::string::npos) << msg_.Last().text;
    EXPECT_NE(msg_.Last().text.find(part), std::string::npos) << msg_.Last().text;
    EXPECT_EQ(msg_.Last().caption, "Предупреждение");
    EXPECT_EQ(calc_.evaluations, 0);
  };
  const std::string good = TableText(0, 200, 1, [](int v) { return 100 + 0.5 * v; }, false);
  refused(good, "не число или нет конца таблицы");
  refused(good + "201 abc -300 0", "не число");
  refused("0 1 1 2 2 3 -300 0", "меньше четырех точек");
  refused(TableText(0, 200, 1, [](int v) { return v < 50 ? 100 + 0.5 * v : 125.0; }), "не возрастает");
}

TEST_F(RangeCalc, RangeNeedsNinePointsInside) {
  Write("PT100.txt", TableText(0, 500, 10, [](int t) { return 100 + 0.39 * t + 1e-4 * t * t; }));
  EXPECT_FALSE(Calc("Pt100", 0, 90));  // 8 points between the ends
  ExpectWarning("в диапазоне меньше девяти точек таблицы\n расчет не произведен");
  EXPECT_EQ(calc_.evaluations, 0);
  ExpectCalculated(Calc("Pt100", 0, 100));  // 9
  ExpectCalculated(Calc("Pt100", 400, 500));  // ending at the last entry

  // Nine points, but crowded at the start: some segment would have none.
  Write("PT100.txt", "0 0\n1 0.01\n2 0.02\n3 0.03\n4 0.04\n5 0.05\n6 0.4\n7 0.6\n8 0.8\n9 0.9\n100 1\n-300 0\n");
  EXPECT_FALSE(Calc("Pt100", 0, 100));
  ExpectWarning("в диапазоне меньше девяти точек таблицы\n расчет не произведен");
}

TEST_F(RangeCalc, ResultDoesNotDependOnAnEarlierLongerTable) {
  // A long table with entries past the short one's end, then the short one.
  Write("XKL.txt", TableText(-100, 800, 1, [](int t) { return 0.06 * t + 1e-5 * t * t; }));
  ExpectCalculated(Calc("XK(L)", 0, 800));
  Write("XKL.txt", TableText(-100, 150, 1, [](int t) { return 0.06 * t + 2e-5 * t * t; }));
  auto again = Calc("XK(L)", 100, 150);
  ExpectCalculated(again);

  ui::ScriptedMessageService otherMsg;
  pmrange::RangeCalculator fresh(otherMsg);
  fresh.tableDirs = {dir_.string()};
  auto first = fresh.CalcNonStandardRange("XK(L)", 100, 150, {});
  ASSERT_TRUE(first && again);
  EXPECT_EQ(*first, *again);
}

TEST_F(RangeCalc, WorkingFolderBeforeDataFolder) {
  const fs::path work = dir_ / "work";
  fs::create_directories(work);
  std::ofstream(work / "PT100.txt") << TableText(-200, 650, 1, [](int t) { return 1000.0 + t; });
  const fs::path saved = fs::current_path();
  fs::current_path(work);
  calc_.tableDirs = {"", PM_TEST_TABLES};
  ASSERT_EQ(calc_.LoadRefTable("Pt100"), LoadStatus::Ok);
  EXPECT_EQ(calc_.Table().Signal[200], 1000.0);  // 0 °C from the working folder
  // The file read is named by its full path, wherever it was found.
  EXPECT_EQ(calc_.TablePath(), (fs::current_path() / "PT100.txt").string());
  fs::remove(work / "PT100.txt");
  ASSERT_EQ(calc_.LoadRefTable("Pt100"), LoadStatus::Ok);
  EXPECT_EQ(calc_.Table().Signal[200], 100.0);  // from the data folder
  EXPECT_EQ(calc_.TablePath(), fs::absolute(fs::path(PM_TEST_TABLES) / "PT100.txt").lexically_normal().string());
  calc_.tableDirs = {""};
  EXPECT_EQ(calc_.LoadRefTable("Pt100"), LoadStatus::CannotOpen);
  EXPECT_EQ(calc_.TablePath(), "") << "no file, no name";
  fs::current_path(saved);

  const auto defaults = pmrange::DefaultTableDirs();
  ASSERT_EQ(defaults.size(), 2u);
  EXPECT_EQ(defaults[0], "");
  EXPECT_TRUE(defaults[1].ends_with("share/pmservice")) << defaults[1];
}

// The characteristic of the node codes, as the instrument applies it, maps
// each table signal to a temperature within this error of the table.
double LargestDeviation(const pmrange::RangeCalculator& calc, const std::array<double, 8>& codes) {
  const auto& t = calc.Table();
  const double xs = t.Signal[calc.StartIndex()], xe = t.Signal[calc.EndIndex()];
  const double start = calc.RangeStartValue(), width = calc.RangeEndValue() - start;
  const double nx[10] = {0, 512, 1024, 2048, 3072, 4096, 5120, 6144, 7168, 8191};
  const double ny[10] = {0, codes[0], codes[1], codes[2], codes[3], codes[4], codes[5], codes[6], codes[7], 8191};
  double worst = 0;
  for (int j = calc.StartIndex(); j <= calc.EndIndex(); ++j) {
    const double code = (t.Signal[j] - xs) / (xe - xs) * 8191;
    int s = 0;
    while (s < 8 && code > nx[s + 1]) ++s;
    const double y = ny[s] + (ny[s + 1] - ny[s]) * (code - nx[s]) / (nx[s + 1] - nx[s]);
    worst = std::max(worst, std::fabs(start + y / 8191 * width - t.Temp[j]));
  }
  return worst;
}

TEST_F(RangeCalc, RealTablesFitWell) {
  UseRealTables();
  struct Case {
    const char* sensor;
    double start, end, maxError;  // °C
  };
  // Largest deviation of ten straight segments from the table (measured:
  // 0.052, 0.445, 1.089, 0.073, 0.212 °C).
  for (const Case& c : {Case{"Pt100", 0, 310, 0.06}, Case{"XA(K)", 0, 1000, 0.5}, Case{"XK(L)", -100, 600, 1.2},
                        Case{"50M", -190, 190, 0.08}, Case{"Ni", -50, 180, 0.25}}) {
    SCOPED_TRACE(c.sensor);
    auto r = Calc(c.sensor, c.start, c.end);
    ExpectCalculated(r);
    ASSERT_TRUE(r);
    double previous = 0;
    for (double code : *r) {
      EXPECT_GT(code, previous);
      previous = code;
    }
    EXPECT_LT(previous, 8191);
    const double worst = LargestDeviation(calc_, *r);
    EXPECT_LT(worst, c.maxError);
    std::printf("%s %g..%g: largest deviation %.4f °C, %ld evaluations\n", c.sensor, c.start, c.end, worst,
                calc_.evaluations);

    // The search ended at a minimum: no node moved by 0.01 °C does better.
    std::array<double, 8> y = calc_.FittedTemps();
    const double f = calc_.ApproxError(y.data());
    EXPECT_EQ(f, calc_.FittedError());
    for (int k = 0; k < 8; ++k)
      for (double step : {0.01, -0.01}) {
        auto moved = y;
        moved[k] += step;
        EXPECT_GT(calc_.ApproxError(moved.data()), f) << k << " " << step;
      }
  }
}

// The deviation curve shown under the results, against the independent
// walk above: the unrounded fit and the whole codes the instrument gets.
TEST_F(RangeCalc, DeviationOfTheWrittenCharacteristic) {
  UseRealTables();
  struct Case {
    const char* sensor;
    double start, end, fitted;  // largest deviation of the unrounded fit, °C
  };
  for (const Case& c : {Case{"Pt100", 0, 310, 0.052}, Case{"XA(K)", 0, 1000, 0.445}}) {
    SCOPED_TRACE(c.sensor);
    auto r = Calc(c.sensor, c.start, c.end);
    ASSERT_TRUE(r);
    const auto fit = pmrange::CharacteristicDeviation(calc_, *r);
    EXPECT_NEAR(std::fabs(fit.largest), c.fitted, 0.001);
    EXPECT_DOUBLE_EQ(std::fabs(fit.largest), LargestDeviation(calc_, *r));

    const auto written = pmrange::WrittenCodes(*r);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(std::to_string(static_cast<int>(written[k])), pmrange::FormatNodeCode((*r)[k]));
    const auto curve = pmrange::CharacteristicDeviation(calc_, written);
    ASSERT_EQ(curve.points.size(), static_cast<size_t>(calc_.EndIndex() - calc_.StartIndex() + 1));
    EXPECT_EQ(curve.points.front().temp, c.start);
    EXPECT_EQ(curve.points.back().temp, c.end);
    EXPECT_NEAR(curve.points.front().deviation, 0, 1e-9);
    EXPECT_NEAR(curve.points.back().deviation, 0, 1e-9);
    EXPECT_DOUBLE_EQ(std::fabs(curve.largest), LargestDeviation(calc_, written));
    double sq = 0;
    for (const auto& p : curve.points) sq += p.deviation * p.deviation;
    EXPECT_DOUBLE_EQ(curve.rms, std::sqrt(sq / curve.points.size()));
    EXPECT_LT(curve.rms, std::fabs(curve.largest));
    std::printf("%s %g..%g, written codes: largest %.4f °C at %g °C, rms %.4f °C\n", c.sensor, c.start, c.end,
                curve.largest, curve.largestAt, curve.rms);
  }
  pmrange::DeviationCurve shown;
  shown.largest = -0.0456;
  shown.largestAt = 215;
  shown.rms = 0.0204;
  EXPECT_EQ(pmrange::DeviationText(shown), "Наибольшее отклонение -0,046 °C\nпри 215 °C\nСКО 0,020 °C");
}

TEST(RangeNormalizeDir, UnitLengthSameDirection) {
  double v[8] = {3, -4, 0, 0, 0, 0, 0, 0};
  pmrange::RangeCalculator::NormalizeDir(v, 8);
  EXPECT_NEAR(v[0], 0.6, 1e-15);
  EXPECT_NEAR(v[1], -0.8, 1e-15);
  double w[8] = {1e-9, 2e-9, -3e-9, 4e-9, 5e-9, -6e-9, 7e-9, 8e-9};
  pmrange::RangeCalculator::NormalizeDir(w, 8);
  double sq = 0;
  for (double x : w) sq += x * x;
  EXPECT_NEAR(sq, 1.0, 1e-14);
  EXPECT_NEAR(w[7] / w[0], 8.0, 1e-12);
}

}  // namespace
