// The signals a check asks for are the published ones: points of the
// standards' own tables for every characteristic the program holds, the
// interpolation between table rows against the standards' equations, the
// cold-junction form E(t) − E(tхс), and the unified current input.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Check.h"
#include "Sensor.h"
#include "Signal.h"

namespace {

using pmverify::Characteristic;
using pmverify::ColdJunction;

const std::vector<std::string> kTables = {PM_TEST_TABLES};

struct Published {
  const char* sensor;
  double t;
  double signal;  // as the standard's table prints it
  double step;    // its last printed digit
};

// Values printed in the standards' tables (IEC 60584-1 / NIST ITS-90,
// GOST R 8.585-2001, IEC 60751 / GOST 6651-2009).
const Published kPublished[] = {
    {"Pt100", -100, 60.26, 0.01},  {"Pt100", 100, 138.51, 0.01}, {"Pt100", 500, 280.98, 0.01},
    {"100П", -100, 59.64, 0.01},   {"100П", 400, 249.41, 0.01},  {"50П", 400, 124.705, 0.01},
    {"100M", -50, 78.46, 0.01},    {"100M", 100, 142.80, 0.01},  {"50M", 100, 71.40, 0.01},
    {"Ni", -50, 74.21, 0.01},      {"Ni", 120, 175.95, 0.01},    {"XA(K)", 100, 4.096, 0.001},
    {"XA(K)", 250, 10.153, 0.001}, {"XA(K)", 500, 20.644, 0.001}, {"XA(K)", 1000, 41.276, 0.001},
    {"XA(K)", 25, 1.000, 0.001},   {"XK(L)", -100, -5.641, 0.001}, {"XK(L)", 100, 6.862, 0.001},
    {"XK(L)", 500, 40.299, 0.001}, {"XK(L)", 800, 66.466, 0.001}, {"XK(E)", -100, -5.237, 0.001},
    {"XK(E)", 300, 21.036, 0.001}, {"XK(E)", 600, 45.093, 0.001}, {"ЖК(J)", -100, -4.633, 0.001},
    {"ЖК(J)", 100, 5.269, 0.001},  {"ЖК(J)", 800, 45.494, 0.001},
};

TEST(Signals, EveryCharacteristicGivesTheStandardsTableValues) {
  for (const Published& p : kPublished) {
    const auto c = Characteristic::Load(kTables, p.sensor);
    ASSERT_TRUE(c) << p.sensor;
    const auto v = c->At(p.t);
    ASSERT_TRUE(v) << p.sensor << " " << p.t;
    EXPECT_NEAR(*v, p.signal, p.step / 2) << p.sensor << " at " << p.t << " °C";
  }
}

TEST(Signals, BetweenTableRowsTheSignalFollowsTheStandardsEquations) {
  const std::pair<const char*, sim::Sensor> sensors[] = {
      {"XK(L)", sim::Sensor::L}, {"XK(E)", sim::Sensor::E},     {"XA(K)", sim::Sensor::K},
      {"ЖК(J)", sim::Sensor::J}, {"Pt100", sim::Sensor::Pt100}, {"100П", sim::Sensor::P100},
      {"50П", sim::Sensor::P50}, {"100M", sim::Sensor::M100},   {"50M", sim::Sensor::M50},
      {"Ni", sim::Sensor::Ni100}};
  std::mt19937 random(27);
  for (const auto& [name, sensor] : sensors) {
    const auto c = Characteristic::Load(kTables, name);
    ASSERT_TRUE(c) << name;
    std::uniform_real_distribution<double> t(-40, 170);  // inside every table
    for (int i = 0; i < 200; ++i) {
      const double at = t(random);
      // Below half the 0,001 the operator is told (the nickel formula
      // bends at 100 °C, where the interpolation is least exact).
      EXPECT_NEAR(*c->At(at), sim::SignalOf(sensor, at), 4e-4) << name << " at " << at;
    }
    EXPECT_FALSE(c->At(-300)) << name;
  }
}

TEST(Signals, WhatTheOperatorIsToldToApply) {
  const auto k = Characteristic::Load(kTables, "XA(K)");
  const auto pt = Characteristic::Load(kTables, "Pt100");
  const pmverify::Scale tp = pmverify::ScaleOf(102, 6, 2, 0, 1100);
  const pmverify::Scale ts = pmverify::ScaleOf(101, 6, 2, -50, 600);
  const pmverify::Scale kardLinear = pmverify::ScaleOf(100, 5, 1, 0, 0);
  const pmverify::Scale kardRoot = pmverify::ScaleOf(100, 5, 0, 0, 0);
  const pmverify::Scale lunt = pmverify::ScaleOf(103, 4, 0, 0, 0);
  const pmverify::Scale rare = pmverify::ScaleOf(102, 5, 5, 0, 1300);  // ПП(S): no table in the program
  struct Case {
    pmverify::Scale scale;
    const Characteristic* c;
    double point;
    ColdJunction mode;
    std::optional<double> tcj;
    std::string instruction;
  } cases[] = {
      {tp, &*k, 250, ColdJunction::Compensated, 21.5, "Подайте 10,153 мВ (250 °C)"},
      // E(100) − E(25) = 4,096 − 1,000 for a calibrator on copper wires.
      {tp, &*k, 100, ColdJunction::Copper, 25, "Подайте 3,096 мВ (100 °C, Тхс 25,00 °C)"},
      {tp, &*k, 100, ColdJunction::Copper, std::nullopt,
       "Подайте сигнал, соответствующий 100 °C (нет температуры холодного спая)"},
      {ts, &*pt, 150, ColdJunction::Copper, std::nullopt, "Подайте 157,325 Ом (150 °C)"},
      {ts, &*pt, 62.5, ColdJunction::Compensated, std::nullopt, "Подайте 124,201 Ом (62,5 °C)"},
      {kardLinear, nullptr, 50, ColdJunction::Compensated, std::nullopt, "Подайте 12,000 мА (50 %)"},
      {kardRoot, nullptr, 50, ColdJunction::Compensated, std::nullopt, "Подайте 8,000 мА (50 %)"},
      {lunt, nullptr, 25, ColdJunction::Compensated, std::nullopt, "Подайте 8,000 мА (25 %)"},
      {rare, nullptr, 500, ColdJunction::Compensated, std::nullopt, "Подайте сигнал, соответствующий 500 °C"},
  };
  for (const Case& c : cases) {
    const pmverify::Signal s = pmverify::SignalFor(c.scale, c.c, c.point, c.mode, c.tcj);
    EXPECT_EQ(pmverify::Instruction(s), c.instruction);
    EXPECT_EQ(s.value.has_value(), c.instruction.find("сигнал,") == std::string::npos) << c.instruction;
  }
  EXPECT_EQ(rare.sensor, "ПП(S)");
  EXPECT_FALSE(Characteristic::Load(kTables, rare.sensor));
}

}  // namespace
