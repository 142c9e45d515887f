// The trend's data: series and gaps, bounds, the view's scale, the reading
// in the units of each model with its setpoints, the CSV lines and the
// recorder's flush and failures; the plot's axis arithmetic.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "CsvRecorder.h"
#include "Identification.h"
#include "PlotScale.h"
#include "ProgPM.h"
#include "TrendModel.h"

namespace fs = std::filesystem;
using namespace pmtrend;

namespace {

Reading At(Millis t, double v, int address = 1, const std::string& port = "/dev/ttyS0") {
  Reading r;
  r.time = t;
  r.value = v;
  r.source = {port, address, pmdev::kModelKard};
  r.unit = "мА";
  r.setpoint1 = 6.0;
  r.setpoint2 = 18.0;
  return r;
}

std::vector<double> Values(const Series& s) {
  std::vector<double> out;
  for (const Sample& sm : s.samples) out.push_back(sm.Gap() ? -1 : sm.value);
  return out;
}

void PutBE(TProgPMClass& pm, int at, int v) {
  pm.Image[at] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
  pm.Image[at + 1] = static_cast<std::uint8_t>(v & 0xFF);
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace

TEST(TrendModel, SeriesPerInstrumentWithGaps) {
  TrendModel m(100, 2);
  m.AddFailure({"/dev/ttyS0", 1, 100}, 0);  // nothing to break yet
  m.AddReading(At(1000, 10));
  m.AddReading(At(4000, 11));
  m.AddFailure({"/dev/ttyS0", 1, 0}, 7000);  // model unknown after a failed identification
  m.AddFailure({"/dev/ttyS0", 1, 100}, 10000);
  m.AddFailure({"/dev/ttyS0", 2, 100}, 10000);  // another instrument: not this series
  m.AddReading(At(13000, 12));
  ASSERT_EQ(m.AllSeries().size(), 1u);
  EXPECT_EQ(Values(m.AllSeries()[0]), (std::vector<double>{10, 11, -1, 12}));
  EXPECT_EQ(m.AllSeries()[0].legend, "1: КАРД, /dev/ttyS0");
  EXPECT_EQ(m.AllSeries()[0].setpoint2, 18.0);

  // Another address, another port, back to the first: a new series each
  // time; only the last two are kept.
  m.AddReading(At(16000, 5, 2));
  m.AddReading(At(19000, 6, 2, "/dev/ttyUSB0"));
  m.AddReading(At(22000, 7, 1));
  ASSERT_EQ(m.AllSeries().size(), 2u);
  EXPECT_EQ(m.AllSeries()[0].legend, "2: КАРД, /dev/ttyUSB0");
  EXPECT_EQ(Values(m.AllSeries()[1]), (std::vector<double>{7}));
}

TEST(TrendModel, HistoryIsBounded) {
  TrendModel m(50, 5);
  for (int i = 0; i < 1000; ++i) {
    if (i % 10 == 9) m.AddFailure(At(0, 0).source, i * 3000);
    else m.AddReading(At(i * 3000, i));
  }
  const Series& s = m.AllSeries().back();
  EXPECT_EQ(s.samples.size(), 50u);
  EXPECT_EQ(s.dropped, 950u);
  EXPECT_FALSE(s.samples.front().Gap());
  EXPECT_EQ(m.SamplesHeld(), 50 * sizeof(Sample));
}

TEST(TrendModel, ViewWindowScaleAndPause) {
  TrendModel m;
  for (int i = 0; i <= 40; ++i) m.AddReading(At(i * 3000, 10 + (i % 5)));
  const Series& s = m.AllSeries().back();
  const Millis now = 120000;

  ViewBox all = ComputeView(s, now, 0, std::nullopt);
  EXPECT_EQ(all.time.lo, 0);
  EXPECT_EQ(all.time.hi, now);
  // The setpoints (6 and 18 mA) are in view, with a margin.
  EXPECT_LT(all.value.lo, 6);
  EXPECT_GT(all.value.hi, 18);

  Series noSetpoints = s;
  noSetpoints.setpoint1.reset();
  noSetpoints.setpoint2.reset();
  ViewBox minute = ComputeView(noSetpoints, now, 60000, std::nullopt);
  EXPECT_EQ(minute.time.lo, 60000);
  EXPECT_NEAR(minute.value.lo, 10 - 0.32, 1e-9);
  EXPECT_NEAR(minute.value.hi, 14 + 0.32, 1e-9);
  // Paused at 6 s: later points take no part in the scale.
  ViewBox paused = ComputeView(noSetpoints, 6000, 60000, std::nullopt);
  EXPECT_NEAR(paused.value.hi, 12 + 0.16, 1e-9);

  ViewBox fixed = ComputeView(s, now, 60000, ui::Span{0, 25});
  EXPECT_EQ(fixed.value.lo, 0);
  EXPECT_EQ(fixed.value.hi, 25);
}

// The result and the setpoint lines in the window's units, per model.
TEST(TrendReading, UnitsAndSetpointsPerModel) {
  struct Case {
    int model;
    int rez, ust1, ust2;
    const char* unit;
    double value;
    std::optional<double> sp1, sp2;
    const char* valueText;
    const char* percentText;
  };
  // ЗЕТ scale 0..400 °C.
  const Case cases[] = {
      {pmdev::kModelKard, 8192, 0, 16383, "мА", 12.0004882, 4.0, 20.0, "12,000", "50,003"},
      {pmdev::kModelLunt, 16383, 3000, 13000, "мА", 20.0, std::nullopt, std::nullopt, "20,000", "100,000"},
      {pmdev::kModelZetTS, 4096, 1500, 7000, "°C", 200.024414, 73.2512512, 341.838604, "200,02", "50,006"},
      {pmdev::kModelZetTP, 8191, 0, 8191, "°C", 400.0, 0.0, 400.0, "400,00", "100,000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    TProgPMClass pm;
    pm.DevType = c.model;
    pm.TMin = 0;
    pm.TMax = 400;
    pm.SetUstKod1(c.ust1);
    pm.SetUstKod2(c.ust2);
    PutBE(pm, 41, c.rez);
    pm.Image[43] = 0x21;  // alarm bit 0 and overflow bit 5
    PutBE(pm, 44, 1234);
    PutBE(pm, 46, 1802);  // cold junction 22 °C
    PutBE(pm, 48, 555);
    const Reading r = ReadingFromImage(pm, "/dev/ttyUSB0", 7, 42);
    EXPECT_EQ(r.unit, c.unit);
    EXPECT_NEAR(r.value, c.value, 1e-4);
    EXPECT_EQ(r.valueText, c.valueText);
    EXPECT_EQ(r.percentText, c.percentText);
    ASSERT_EQ(r.setpoint1.has_value(), c.sp1.has_value());
    if (c.sp1) {
      EXPECT_NEAR(*r.setpoint1, *c.sp1, 1e-3);
      EXPECT_NEAR(*r.setpoint2, *c.sp2, 1e-3);
    }
    EXPECT_TRUE(r.alarm);
    EXPECT_TRUE(r.overflow);
    EXPECT_EQ(r.adc, 1234);
    EXPECT_EQ(r.coldJunctionText.has_value(), c.model == pmdev::kModelZetTP);
    EXPECT_EQ(r.source, (Source{"/dev/ttyUSB0", 7, c.model}));
  }
}

// The CSV a spreadsheet with Russian settings reads: fields by semicolons,
// numbers with decimal commas, empty measurement fields for a failed read.
TEST(TrendCsv, HeaderRowsAndFailureRows) {
  setenv("TZ", "UTC", 1);
  tzset();
  Reading r = At(1765211401123, 12.0);
  r.source.model = pmdev::kModelZetTP;
  r.valueText = "251,37";
  r.unit = "°C";
  r.percentText = "62,843";
  r.rez = 5147;
  r.adc = 30123;
  r.status = 2;
  r.alarm = true;
  r.coldJunctionText = "22,00";
  EXPECT_EQ(CsvHeader(),
            "Время;Адрес;Модель;Результат;Единицы;Результат, %;Код результата;Код АЦП;Состояние;Нарушение;"
            "Переполнение;Т хол. спая, °C");
  EXPECT_EQ(CsvRow(r), "2025-12-08 16:30:01,123;1;ЗЕТ-ТП;251,37;°C;62,843;5147;30123;2;1;0;22,00");
  EXPECT_EQ(CsvFailureRow({"/dev/ttyS0", 3, pmdev::kModelKard}, 1765211404005),
            "2025-12-08 16:30:04,005;3;КАРД;;;;;;;;;");
  auto fields = [](const std::string& line) { return std::count(line.begin(), line.end(), ';') + 1; };
  EXPECT_EQ(fields(CsvHeader()), fields(CsvRow(r)));
  EXPECT_EQ(fields(CsvHeader()), fields(CsvFailureRow({}, 0)));
}

// A whole line's recording names the port of every row, quoted where the
// name holds the separator.
TEST(TrendCsv, ALinesRecordingHasAPortColumn) {
  setenv("TZ", "UTC", 1);
  tzset();
  const Reading r = At(1765211401123, 12.0, 4, "tcp://gw;1:4001");
  EXPECT_EQ(CsvHeader(PortColumn::Yes).rfind("Время;Порт;Адрес;Модель;", 0), 0u);
  EXPECT_EQ(CsvRow(r, PortColumn::Yes).rfind("2025-12-08 16:30:01,123;\"tcp://gw;1:4001\";4;КАРД;", 0), 0u);
  EXPECT_EQ(CsvFailureRow({"/dev/ttyUSB0", 3, pmdev::kModelKard}, 1765211404005, PortColumn::Yes),
            "2025-12-08 16:30:04,005;/dev/ttyUSB0;3;КАРД;;;;;;;;;");
  auto fields = [](const std::string& line) { return std::count(line.begin(), line.end(), ';') + 1; };
  EXPECT_EQ(fields(CsvHeader(PortColumn::Yes)), fields(CsvHeader()) + 1);
  EXPECT_EQ(fields(CsvFailureRow({}, 0, PortColumn::Yes)), fields(CsvHeader(PortColumn::Yes)));
}

TEST(TrendCsv, EachLineIsOnTheFileAsItIsWritten) {
  const fs::path path = fs::temp_directory_path() / ("pm_trend_" + std::to_string(::getpid()) + ".csv");
  CsvRecorder rec;
  ASSERT_EQ(rec.Start(path.string()), std::nullopt);
  EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF" + CsvHeader() + "\r\n");
  ASSERT_EQ(rec.Append("a;1"), std::nullopt);
  // Read through another handle while the recorder still holds the file.
  EXPECT_EQ(ReadFile(path), "\xEF\xBB\xBF" + CsvHeader() + "\r\na;1\r\n");
  ASSERT_EQ(rec.Append("b;2"), std::nullopt);
  EXPECT_EQ(rec.Lines(), 2);

  // The file removed under the recorder: it stops and says so.
  fs::remove(path);
  const auto removed = rec.Append("c;3");
  ASSERT_TRUE(removed);
  EXPECT_EQ(*removed, "Запись в файл " + path.string() + " остановлена: файл удален");
  EXPECT_FALSE(rec.Recording());
  EXPECT_EQ(rec.Lines(), 2);

  // A device is never recorded to, not even the one of a full disk.
  if (fs::exists("/dev/full")) {
    ASSERT_EQ(rec.Start("/dev/full"),
              std::optional<std::string>("Не удалось открыть файл /dev/full: это не обычный файл (устройство)"));
    EXPECT_FALSE(rec.Recording());
  }
  const auto refused = rec.Start("/nonexistent-folder/x.csv");
  ASSERT_TRUE(refused);
  EXPECT_EQ(*refused, "Не удалось открыть файл /nonexistent-folder/x.csv: папка не найдена");
}

TEST(PlotScale, TicksAndSpans) {
  struct Case {
    double lo, hi;
    int max;
    std::vector<double> ticks;
  };
  for (const Case& c : {Case{0, 10, 6, {0, 2, 4, 6, 8, 10}}, Case{-0.13, 0.12, 6, {-0.1, -0.05, 0, 0.05, 0.1}},
                        Case{3.9, 20.1, 5, {5, 10, 15, 20}}, Case{5, 5, 5, {}}}) {
    const auto t = ui::NiceTicks(c.lo, c.hi, c.max);
    ASSERT_EQ(t.size(), c.ticks.size()) << c.lo << ".." << c.hi;
    for (std::size_t i = 0; i < t.size(); ++i) EXPECT_NEAR(t[i], c.ticks[i], 1e-12);
  }
  EXPECT_EQ(ui::TimeStep(60000, 7), 10000);
  EXPECT_EQ(ui::TimeStep(600000, 7), 120000);
  EXPECT_EQ(ui::TimeStep(3600000, 7), 600000);
  EXPECT_EQ(ui::StepDecimals(0.05), 2);
  EXPECT_EQ(ui::StepDecimals(5), 0);
  EXPECT_EQ(ui::PaddedSpan(5, 5).lo, 4.95);
  EXPECT_EQ(ui::PaddedSpan(NAN, 1).hi, 1);
}
