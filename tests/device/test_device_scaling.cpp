// Code conversions, typed-value conversions and the digits shown.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "DisplayFormat.h"
#include "Scaling.h"

using namespace pmdev;

namespace {

struct FormatCase {
  long double value;
  int P;
  int D;
  const char* text;
};

class FormatFixedDigits : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatFixedDigits, Text) {
  const FormatCase& c = GetParam();
  EXPECT_EQ(FormatFixed(c.value, c.P, c.D), c.text) << static_cast<double>(c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatFixedDigits,
    ::testing::Values(
        // significant digits limit before decimals do
        FormatCase{11.99951L, 5, 3, "12,000"}, FormatCase{12345.678L, 5, 3, "12346,000"},
        FormatCase{50.0061L, 5, 2, "50,01"}, FormatCase{49.99694L, 5, 3, "49,997"},
        // padding and small values
        FormatCase{1.5L, 6, 3, "1,500"}, FormatCase{100, 4, 2, "100,00"}, FormatCase{0, 5, 3, "0,000"},
        FormatCase{0.001234L, 5, 3, "0,001"}, FormatCase{0.0005L, 5, 3, "0,001"},
        FormatCase{0.00049L, 5, 3, "0,000"}, FormatCase{0.12346L, 4, 3, "0,123"},
        FormatCase{1.0005L, 5, 3, "1,001"}, FormatCase{-1.0005L, 5, 3, "-1,001"}, FormatCase{1.00049999L, 5, 3, "1,000"}, FormatCase{-0.0001L, 5, 3, "0,000"},
        FormatCase{0.4L, 4, 0, "0"}, FormatCase{0.6L, 4, 0, "1"},
        // half away from zero on exact binary ties
        FormatCase{2.5L, 4, 0, "3"}, FormatCase{-2.5L, 4, 0, "-3"}, FormatCase{0.125L, 4, 2, "0,13"},
        FormatCase{-0.125L, 4, 2, "-0,13"}, FormatCase{8191.5L, 5, 0, "8192"},
        FormatCase{1234.5L, 4, 0, "1235"}, FormatCase{1234.4L, 4, 0, "1234"},
        FormatCase{9.9996L, 5, 3, "10,000"}, FormatCase{-9.9996L, 5, 3, "-10,000"},
        // integer part longer than P: scientific
        FormatCase{123456, 5, 3, "1,2346E+05"}, FormatCase{-123456, 5, 3, "-1,2346E+05"},
        FormatCase{100000, 5, 2, "1E+05"}, FormatCase{99999.6L, 5, 0, "1E+05"},
        FormatCase{99999.4L, 5, 0, "99999"}, FormatCase{9999.5L, 4, 0, "1E+04"},
        FormatCase{12345, 4, 2, "1,235E+04"},
        FormatCase{std::numeric_limits<long double>::quiet_NaN(), 5, 3, "NAN"},
        FormatCase{std::numeric_limits<long double>::infinity(), 5, 3, "INF"},
        FormatCase{-std::numeric_limits<long double>::infinity(), 5, 3, "-INF"}));

struct DisplayCase {
  const char* what;
  long double value;
  FixedFormat fmt;
  const char* text;
};

class DisplayedResults : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayedResults, Digits) {
  const DisplayCase& c = GetParam();
  EXPECT_EQ(Format(c.value, c.fmt), c.text) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, DisplayedResults,
    ::testing::Values(
        DisplayCase{"mA 8191", CodeToMA(8191), kFmtResultMA, "12,000"},
        DisplayCase{"mA 0", CodeToMA(0), kFmtResultMA, "4,000"},
        DisplayCase{"mA 16383", CodeToMA(16383), kFmtResultMA, "20,000"},
        DisplayCase{"mA -100", CodeToMA(-100), kFmtResultMA, "3,902"},
        DisplayCase{"mA -16383", CodeToMA(-16383), kFmtResultMA, "-12,000"},
        DisplayCase{"mA 32767", CodeToMA(32767), kFmtResultMA, "36,001"},
        DisplayCase{"% 16383 of 8191", CodeToPercent16383(8191), kFmtResultPercent, "49,997"},
        DisplayCase{"% 16383 of -8192", CodeToPercent16383(-8192), kFmtResultPercent, "-50,003"},
        DisplayCase{"% 8191 of 4096", CodeToPercent8191(4096), kFmtResultPercent, "50,006"},
        DisplayCase{"% 8191 of -8191", CodeToPercent8191(-8191), kFmtResultPercent, "-100,000"},
        DisplayCase{"degC 4096 on 0..100", CodeToDegC(4096, 0, 100), kFmtResultDegC, "50,01"},
        DisplayCase{"degC -100 on 0..100", CodeToDegC(-100, 0, 100), kFmtResultDegC, "-1,22"},
        DisplayCase{"degC 3276 on -50..50", CodeToDegC(3276, -50, 50), kFmtResultDegC, "-10,00"},
        DisplayCase{"setpoint degC 3276 on -50..50", CodeToDegC(3276, -50, 50), kFmtSetpointDegC, "-10"},
        DisplayCase{"setpoint % 8191", CodeToPercent16383(8191), kFmtSetpointPercent, "50,00"},
        DisplayCase{"setpoint % 5460", CodeToPercent16383(5460), kFmtSetpointPercent, "33,33"},
        DisplayCase{"cold junction 2048", TxcToDegC(2048), kFmtColdJunction, "25,00"},
        DisplayCase{"cold junction -410", TxcToDegC(-410), kFmtColdJunction, "-5,01"},
        DisplayCase{"Rt", 109.73512L, kFmtRtEt, "109,735"}));

TEST(DeviceScaling, CodeToDegCIsAFloat) {
  // 50.00610...: the float nearest, not the extended value.
  const float t = CodeToDegC(4096, 0, 100);
  EXPECT_EQ(t, static_cast<float>(0 + 100.0L * 4096 * kRecip8191));
  EXPECT_EQ(CodeToDegC(0, -200, 600), -200.0f);
  EXPECT_EQ(CodeToDegC(8191, -200, 600), 600.0f);
}

struct TypedCase {
  const char* what;
  int code;
  int expected;
};

class TypedToCode : public ::testing::TestWithParam<TypedCase> {};

TEST_P(TypedToCode, TruncatesTowardZero) {
  EXPECT_EQ(GetParam().code, GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TypedToCode,
    ::testing::Values(
        TypedCase{"-10 degC on -50..50", DegCToCode(-10, -50, 50), 3276},
        TypedCase{"75 degC on -50..200", DegCToCode(75, -50, 200), 4095},
        TypedCase{"-60 degC on -50..50", DegCToCode(-60, -50, 50), -819},
        TypedCase{"276.23 degC on -200..600 (float first)", DegCToCode(276.23, -200, 600), 4876},
        TypedCase{"equal bounds", DegCToCode(10, 5, 5), 0},
        TypedCase{"33.33 %", PercentToCode(33.33), 5460},
        TypedCase{"100 %", PercentToCode(100), 16383},
        TypedCase{"50 %", PercentToCode(50), 8191},
        TypedCase{"0.01 %", PercentToCode(0.01), 1},
        TypedCase{"-0.01 %", PercentToCode(-0.01), -1},
        TypedCase{"98.12 % (float first)", PercentToCode(98.12), 16075},
        TypedCase{"4 mA", MilliampToCode(4), 0},
        TypedCase{"20 mA", MilliampToCode(20), 16383},
        TypedCase{"12 mA", MilliampToCode(12), 8191},
        TypedCase{"6.047 mA (float first)", MilliampToCode(6.047), 2095},
        TypedCase{"3.99 mA", MilliampToCode(3.99), -10}));

TEST(DeviceScaling, BoundsGoThroughFifteenDigitText) {
  EXPECT_EQ(Through15Digits(-50.0f), -50.0L);
  EXPECT_EQ(Through15Digits(0.1f), 0.100000001490116L);
  EXPECT_NE(Through15Digits(0.1f), static_cast<long double>(0.1f));
}

TEST(DeviceScaling, BigEndianFloatOfRegisters) {
  const std::uint8_t bytes[] = {0x42, 0xDC, 0x00, 0x00};
  EXPECT_EQ(BigEndianFloat(bytes), 110.0f);
  const std::uint8_t minus2[] = {0xC0, 0x00, 0x00, 0x00, 0x42};
  EXPECT_EQ(BigEndianFloat(minus2), -2.0f);
  const std::uint8_t few[] = {0x42, 0xDB};
  EXPECT_EQ(BigEndianFloat(few), 0.0f);
}

TEST(DeviceScaling, FormatIgnoresProcessLocale) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  if (!std::setlocale(LC_ALL, "ru_RU.UTF-8") && !std::setlocale(LC_ALL, "de_DE.UTF-8"))
    GTEST_SKIP() << "no locale with a decimal comma installed";
  const std::string text = FormatFixed(1234.5L, 6, 2);
  const long double back = Through15Digits(0.1f);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(text, "1234,50");
  EXPECT_EQ(back, 0.100000001490116L);
}

struct StatusCase {
  int status;
  const char* alarmDigits;
  bool alarm;
  const char* measDigits;
  bool overflow;
};

class StatusByte : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusByte, DigitsTextsColours) {
  const StatusCase& c = GetParam();
  const StatusDisplay a = AlarmState(c.status);
  EXPECT_EQ(a.digits, c.alarmDigits);
  EXPECT_EQ(a.fault, c.alarm);
  EXPECT_EQ(a.text, c.alarm ? "Нарушение" : "     Норма");
  EXPECT_EQ(a.colour, c.alarm ? (Rgb{255, 0, 0}) : (Rgb{0, 128, 128}));
  const StatusDisplay m = MeasurementState(c.status);
  EXPECT_EQ(m.digits, c.measDigits);
  EXPECT_EQ(m.fault, c.overflow);
  EXPECT_EQ(m.text, c.overflow ? "Переполнение" : "       Норма");
  EXPECT_EQ(m.colour, c.overflow ? (Rgb{255, 0, 0}) : (Rgb{0, 128, 128}));
}

INSTANTIATE_TEST_SUITE_P(Bits, StatusByte,
                         ::testing::Values(StatusCase{0x00, "00", false, "000", false},
                                           StatusCase{0x01, "01", true, "000", false},
                                           StatusCase{0x02, "10", true, "000", false},
                                           StatusCase{0x1C, "00", false, "000", false},  // bits 2-4 ignored
                                           StatusCase{0x20, "00", false, "001", true},
                                           StatusCase{0x40, "00", false, "010", true},
                                           StatusCase{0x83, "11", true, "100", true},
                                           StatusCase{0xFF, "11", true, "111", true}));

TEST(DeviceScaling, ColdJunctionValidity) {
  EXPECT_TRUE(ColdJunctionValid(1200, 2048));
  EXPECT_TRUE(ColdJunctionValid(32766, -32767));
  EXPECT_FALSE(ColdJunctionValid(32767, 2048));  // even with a valid Txc
  EXPECT_FALSE(ColdJunctionValid(-32768, 2048));
  EXPECT_FALSE(ColdJunctionValid(1200, -32768));
  EXPECT_TRUE(ColdJunctionValid(1200, 32767));
}

}  // namespace
