// The errors and verdicts a check stores are what its stored readings give
// when computed afresh, for random scales, points, readings and tolerances;
// a point whose readings spread is refused; the texts the operator types.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "CheckRun.h"
#include "CheckStore.h"

namespace fs = std::filesystem;
using namespace pmverify;

namespace {

// The verdict of a point by the definition: the mean of the readings
// against the point, within the permissible error; a measured current
// within the same share of its 16 mA span.
struct Expected {
  double mean, error, reduced;
  bool pass;
};

Expected Recompute(const Scale& scale, const Tolerance& t, double reference, const std::vector<double>& readings,
                   std::optional<double> current) {
  double sum = 0;
  for (double r : readings) sum += r;
  const double mean = sum / readings.size();
  const double span = std::fabs(scale.hi - scale.lo);
  const double limit = t.kind == ToleranceKind::Reduced ? t.value / 100 * span : t.value;
  bool pass = std::fabs(mean - reference) <= limit * (1 + 1e-12);
  if (current) {
    const double expected = 4 + 16 * (reference - scale.lo) / (scale.hi - scale.lo);
    pass = pass && std::fabs(*current - expected) / 16 <= limit / span * (1 + 1e-12);
  }
  return {mean, mean - reference, (mean - reference) / span * 100, pass};
}

TEST(Check, StoredErrorsAndVerdictsEqualAnIndependentComputation) {
  const fs::path dir = fs::temp_directory_path() / ("pmverify-property-" + std::to_string(getpid()));
  fs::remove_all(dir);
  auto journal = pmjournal::Journal::Open((dir / "journal.sqlite").string()).journal;
  std::mt19937 random(2027);
  auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); };
  for (int trial = 0; trial < 60; ++trial) {
    InstrumentRead instrument;
    const bool zet = trial % 3 != 0;
    const double lo = zet ? std::round(uniform(-200, 300)) : 0;
    const double hi = zet ? lo + std::round(uniform(20, 1000)) : 100;
    instrument.scale = ScaleOf(zet ? 101 : 100, 5, 2, lo, hi);
    pmverify::Setup setup;
    setup.tolerance = {trial % 2 ? ToleranceKind::Absolute : ToleranceKind::Reduced, uniform(0.05, 3)};
    const int count = 1 + static_cast<int>(random() % 7);
    for (int i = 0; i < count; ++i) setup.points.push_back(uniform(lo, hi));
    setup.readings = 1 + static_cast<int>(random() % 6);
    CheckRun run(instrument, "/dev/ttyUSB0", 3, setup, Stage::AsFound, 0, {});
    const double limit = Permissible(setup.tolerance, hi - lo);
    while (!run.Done()) {
      // Readings around an error of up to twice the limit, spread within a
      // quarter of it.
      const double centre = setup.points[run.Current()] + uniform(-2, 2) * limit;
      Taken taken{true, {}, std::nullopt};
      for (int r = 0; r < setup.readings; ++r) taken.readings.push_back(centre + uniform(-0.12, 0.12) * limit);
      std::optional<double> current;
      if (random() % 2) current = ExpectedCurrent(instrument.scale, setup.points[run.Current()]) + uniform(-0.3, 0.3);
      ASSERT_TRUE(run.Take(taken, current, ""));
    }
    CheckRecord record = run.Record();
    StoreCheck(*journal, record);
    const CheckRecord stored = *GetCheck(*journal, record.id);
    ASSERT_EQ(stored.points.size(), setup.points.size());
    bool all = true;
    double worst = 0;
    for (std::size_t i = 0; i < stored.points.size(); ++i) {
      const PointResult& p = stored.points[i].result;
      const Expected e = Recompute(stored.scale, stored.setup.tolerance, p.reference, p.readings, p.current);
      EXPECT_NEAR(p.mean, e.mean, 1e-9);
      EXPECT_NEAR(p.error, e.error, 1e-9);
      EXPECT_NEAR(p.reduced, e.reduced, 1e-9);
      EXPECT_EQ(p.pass, e.pass) << "trial " << trial << " point " << i;
      all = all && e.pass;
      if (std::fabs(e.error) > std::fabs(worst)) worst = e.error;
    }
    EXPECT_EQ(stored.verdict.pass, all) << "trial " << trial;
    EXPECT_NEAR(stored.verdict.maxError, worst, 1e-9);
  }
  journal.reset();
  fs::remove_all(dir);
}

TEST(Check, APointWhoseReadingsSpreadMoreThanAQuarterOfTheToleranceIsRefused) {
  InstrumentRead instrument;
  instrument.scale = ScaleOf(101, 5, 2, 0, 400);  // 1 % of 400 °C: 4 °C, a quarter 1 °C
  pmverify::Setup setup;
  setup.tolerance = {ToleranceKind::Reduced, 1};
  setup.points = {100, 300};
  CheckRun run(instrument, "p", 1, setup, Stage::AsFound, 0, {});
  EXPECT_FALSE(run.Take({true, {100.0, 101.2, 100.4}, std::nullopt}, std::nullopt, ""));
  EXPECT_EQ(run.Current(), 0u);
  EXPECT_FALSE(run.Take({false, {100.0}, std::nullopt}, std::nullopt, ""));  // the readings did not all come
  EXPECT_TRUE(run.Take({true, {100.0, 101.0, 100.5}, std::nullopt}, std::nullopt, ""));
  EXPECT_TRUE(run.Take({true, {304.5, 304.5}, std::nullopt}, std::nullopt, ""));
  ASSERT_TRUE(run.Done());
  EXPECT_FALSE(run.Record().verdict.pass);
  EXPECT_DOUBLE_EQ(run.Record().verdict.maxError, 4.5);
}

TEST(Check, WhatTheOperatorTypes) {
  const Scale k = ScaleOf(102, 6, 2, 0, 1100);
  EXPECT_EQ(PointsText(DefaultPoints(k.lo, k.hi)), "0; 275; 550; 825; 1100");
  EXPECT_EQ(PointsText(std::get<std::vector<double>>(ParsePoints("0; 62,5 100.5  1100", k))), "0; 62,5; 100,5; 1100");
  EXPECT_EQ(std::get<std::string>(ParsePoints("0; 1200", k)), "Точка проверки 1200 вне диапазона 0…1100 °C.");
  EXPECT_EQ(std::get<std::string>(ParsePoints("0; x", k)), "Точка проверки «x» - не число.");
  EXPECT_EQ(std::get<std::string>(ParsePoints(" ; ", k)), "Не заданы точки проверки.");
  const struct {
    const char* text;
    std::optional<Tolerance> t;
  } tolerances[] = {{"0,5%", Tolerance{ToleranceKind::Reduced, 0.5}},
                    {"0.25", Tolerance{ToleranceKind::Reduced, 0.25}},
                    {"2 °C", Tolerance{ToleranceKind::Absolute, 2}},
                    {"1,5C", Tolerance{ToleranceKind::Absolute, 1.5}},
                    {"0", std::nullopt},
                    {"-1%", std::nullopt},
                    {"ab", std::nullopt}};
  for (const auto& c : tolerances) {
    const auto t = ParseTolerance(c.text);
    ASSERT_EQ(t.has_value(), c.t.has_value()) << c.text;
    if (t) {
      EXPECT_EQ(std::make_pair(t->kind, t->value), std::make_pair(c.t->kind, c.t->value)) << c.text;
    }
  }
  EXPECT_EQ(ToleranceText({ToleranceKind::Reduced, 0.5}, k), "±0,5 % диапазона");
  EXPECT_EQ(ToleranceText({ToleranceKind::Absolute, 2}, k), "±2 °C");
}

}  // namespace
