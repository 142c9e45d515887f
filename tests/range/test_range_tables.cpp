// The generated reference tables against published table values (IEC 60584-1
// / NIST ITS-90, GOST R 8.585-2001, IEC 60751 / GOST 6651-2009) and against
// the file format the calculation reads.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "RangeCalc.h"

namespace {

struct Pair {
  std::string t, signal;  // as written in the file
};

std::vector<Pair> ReadLines(const std::string& file, std::string* raw = nullptr) {
  std::ifstream in(std::string(PM_TEST_TABLES) + "/" + file, std::ios::binary);
  EXPECT_TRUE(in.is_open()) << file;
  std::stringstream all;
  all << in.rdbuf();
  if (raw) *raw = all.str();
  std::vector<Pair> lines;
  std::istringstream text(all.str());
  std::string line;
  while (std::getline(text, line)) {
    std::istringstream fields(line);
    Pair p;
    fields >> p.t >> p.signal;
    std::string extra;
    EXPECT_FALSE(fields >> extra) << file << ": " << line;
    lines.push_back(p);
  }
  return lines;
}

std::map<int, double> ReadTable(const std::string& file) {
  std::map<int, double> table;
  for (const auto& p : ReadLines(file)) table[std::stoi(p.t)] = std::stod(p.signal);
  return table;
}

struct Published {
  const char* file;
  int t;
  double value;
  double tolerance;  // half a unit of the published table's last digit
};

// mV tables publish 3 decimals, Ω tables 2.
constexpr double mV = 0.0005, Ohm = 0.005;

const Published kPublished[] = {
    // Type L, GOST R 8.585-2001
    {"XKL.txt", -100, -5.641, mV}, {"XKL.txt", -50, -3.005, mV}, {"XKL.txt", 100, 6.862, mV},
    {"XKL.txt", 200, 14.560, mV}, {"XKL.txt", 300, 22.843, mV}, {"XKL.txt", 400, 31.492, mV},
    {"XKL.txt", 500, 40.299, mV}, {"XKL.txt", 600, 49.108, mV}, {"XKL.txt", 700, 57.859, mV},
    {"XKL.txt", 800, 66.466, mV},
    // Type E
    {"XKE.txt", -100, -5.237, mV}, {"XKE.txt", 100, 6.319, mV}, {"XKE.txt", 200, 13.421, mV},
    {"XKE.txt", 300, 21.036, mV}, {"XKE.txt", 400, 28.946, mV}, {"XKE.txt", 600, 45.093, mV},
    {"XKE.txt", 800, 61.017, mV},
    // Type J, both sides of the 760 °C border
    {"TJK.txt", -100, -4.633, mV}, {"TJK.txt", -50, -2.431, mV}, {"TJK.txt", 100, 5.269, mV},
    {"TJK.txt", 200, 10.779, mV}, {"TJK.txt", 400, 21.848, mV}, {"TJK.txt", 500, 27.393, mV},
    {"TJK.txt", 700, 39.132, mV}, {"TJK.txt", 760, 42.919, mV}, {"TJK.txt", 800, 45.494, mV},
    // Type K
    {"XAK.txt", -50, -1.889, mV}, {"XAK.txt", 100, 4.096, mV}, {"XAK.txt", 200, 8.138, mV},
    {"XAK.txt", 400, 16.397, mV}, {"XAK.txt", 500, 20.644, mV}, {"XAK.txt", 600, 24.905, mV},
    {"XAK.txt", 700, 29.129, mV}, {"XAK.txt", 800, 33.275, mV}, {"XAK.txt", 900, 37.326, mV},
    {"XAK.txt", 1000, 41.276, mV}, {"XAK.txt", 1100, 45.119, mV},
    // Pt100
    {"PT100.txt", -200, 18.52, Ohm}, {"PT100.txt", -100, 60.26, Ohm}, {"PT100.txt", -50, 80.31, Ohm},
    {"PT100.txt", 50, 119.40, Ohm}, {"PT100.txt", 100, 138.51, Ohm}, {"PT100.txt", 200, 175.86, Ohm},
    {"PT100.txt", 300, 212.05, Ohm}, {"PT100.txt", 400, 247.09, Ohm}, {"PT100.txt", 500, 280.98, Ohm},
    {"PT100.txt", 600, 313.71, Ohm}, {"PT100.txt", 650, 329.64, Ohm},
    // 100П
    {"100P.txt", -100, 59.64, Ohm}, {"100P.txt", 100, 139.11, Ohm}, {"100P.txt", 200, 177.04, Ohm},
    {"100P.txt", 400, 249.41, Ohm},
    // 100М, including the extension below −180 °C
    {"100M.txt", -200, 11.32, Ohm}, {"100M.txt", -50, 78.46, Ohm}, {"100M.txt", 50, 121.40, Ohm},
    {"100M.txt", 100, 142.80, Ohm}, {"100M.txt", 200, 185.60, Ohm},
    // 100Н
    {"N100.txt", 100, 161.72, Ohm}, {"N100.txt", 120, 175.95, Ohm},
    {"N100.txt", 180, 223.21, Ohm},
};

TEST(RangeTables, ReproducePublishedValues) {
  std::map<std::string, std::map<int, double>> tables;
  for (const auto& p : kPublished) {
    auto& table = tables[p.file];
    if (table.empty()) table = ReadTable(p.file);
    ASSERT_TRUE(table.count(p.t)) << p.file << " " << p.t;
    EXPECT_NEAR(table[p.t], p.value, p.tolerance) << p.file << " at " << p.t << " °C";
  }
  // Every value at 0 °C is the reference point (within rounding).
  for (const char* f : {"XKE.txt", "TJK.txt", "XAK.txt", "XKL.txt"}) EXPECT_NEAR(tables[f][0], 0.0, mV) << f;
  for (const char* f : {"PT100.txt", "100P.txt", "100M.txt", "N100.txt"}) EXPECT_DOUBLE_EQ(tables[f][0], 100.0) << f;
}

struct Format {
  const char* file;
  int first, last, decimals;
};

const Format kFormats[] = {
    {"XKL.txt", -120, 800, 6}, {"XKE.txt", -120, 800, 6},   {"TJK.txt", -120, 800, 6},  {"XAK.txt", -50, 1100, 6},
    {"PT100.txt", -200, 650, 5}, {"100P.txt", -200, 650, 5}, {"100M.txt", -200, 200, 5}, {"N100.txt", -50, 180, 5},
};

TEST(RangeTables, FileFormat) {
  for (const auto& f : kFormats) {
    SCOPED_TRACE(f.file);
    std::string raw;
    const auto lines = ReadLines(f.file, &raw);
    ASSERT_FALSE(raw.empty());
    EXPECT_NE(static_cast<unsigned char>(raw[0]), 0xEF) << "byte-order mark";
    EXPECT_EQ(raw.find('\r'), std::string::npos);
    EXPECT_EQ(raw.find("-0.000000"), std::string::npos);
    EXPECT_EQ(raw.find("-0.00000 "), std::string::npos);

    const int pairs = f.last - f.first + 1;
    ASSERT_EQ(static_cast<int>(lines.size()), pairs + 1);
    EXPECT_LE(pairs, pmrange::kMaxEntries);
    EXPECT_EQ(lines.back().t, "-300");
    EXPECT_EQ(lines.back().signal, "0");

    double previous = -1e9;
    for (int i = 0; i < pairs; ++i) {
      const auto& p = lines[i];
      EXPECT_EQ(p.t, std::to_string(f.first + i));  // whole degrees, 1 °C steps
      const auto point = p.signal.find('.');
      ASSERT_NE(point, std::string::npos) << p.t;
      EXPECT_EQ(static_cast<int>(p.signal.size() - point - 1), f.decimals) << p.t;
      const double s = std::stod(p.signal);
      EXPECT_GT(s, previous) << "signal must increase at " << p.t;
      previous = s;
    }
  }
}

}  // namespace
