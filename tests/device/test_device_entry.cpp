// Validated numeric entry: the whole-text check and the key filters.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "NumericEntry.h"

using namespace pmdev;

namespace {

struct CheckCase {
  const char* text;
  int kind;
  int expected;
};

class CheckNumberBounds : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckNumberBounds, Result) {
  const CheckCase& c = GetParam();
  EXPECT_EQ(CheckNumber(c.text, c.kind, -50.0f, 50.0f), c.expected) << c.text << " kind " << c.kind;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CheckNumberBounds,
    ::testing::Values(
        // kind 1: TMin..TMax (-50..50 here)
        CheckCase{"-50", 1, 0}, CheckCase{"50", 1, 0}, CheckCase{"50,01", 1, 1}, CheckCase{"-50,5", 1, 1},
        CheckCase{"0,5", 1, 0},
        // kind 2: 0..100
        CheckCase{"100", 2, 0}, CheckCase{"100,01", 2, 1}, CheckCase{"-1", 2, 1}, CheckCase{"12,5", 2, 0},
        CheckCase{"0", 2, 0}, CheckCase{"-0", 2, 0},
        // kind 3: 0..9999
        CheckCase{"9999", 3, 0}, CheckCase{"10000", 3, 1}, CheckCase{"12,5", 3, 0},
        // kind 4: 0..20
        CheckCase{"20", 4, 0}, CheckCase{"20,001", 4, 1}, CheckCase{"4", 4, 0},
        // other kinds: no range test
        CheckCase{"123456", 0, 0}, CheckCase{"-99999", 7, 0},
        // only the first 7 characters are scanned for the character rules; the
        // rest must still be a number
        CheckCase{"1234567,5", 0, 0}, CheckCase{"1234567-", 0, 1}, CheckCase{"1234567б", 0, 1}));

class InvalidForEveryKind : public ::testing::TestWithParam<const char*> {};

TEST_P(InvalidForEveryKind, Rejected) {
  for (int kind = 0; kind <= 5; ++kind)
    EXPECT_EQ(CheckNumber(GetParam(), kind, -1000.0f, 1000.0f), 1) << '"' << GetParam() << "\" kind " << kind;
}

INSTANTIATE_TEST_SUITE_P(Texts, InvalidForEveryKind,
                         ::testing::Values("", "1,2,5", ",,", "12,", ",", "5-", "1-2", "-", "--5", "1б", "б",
                                           "Б5", "?", "1?", "1.5", "12a", "1 2", " 5", "+5", "1e2",
                                           "٣"));

TEST(DeviceEntry, ParseTypedNumber) {
  EXPECT_EQ(ParseTypedNumber("12,5"), 12.5);
  EXPECT_EQ(ParseTypedNumber("-0,25"), -0.25);
  EXPECT_EQ(ParseTypedNumber(",5"), 0.5);
  EXPECT_EQ(ParseTypedNumber("007"), 7.0);
  EXPECT_FALSE(ParseTypedNumber("12.5"));
  EXPECT_FALSE(ParseTypedNumber("-"));
  EXPECT_FALSE(ParseTypedNumber("5,"));
  EXPECT_FALSE(ParseTypedNumber(""));
}

TEST(DeviceEntry, CommaParsingIgnoresProcessLocale) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  std::setlocale(LC_ALL, "C");
  const auto inC = ParseTypedNumber("33,33");
  const bool haveComma = std::setlocale(LC_ALL, "ru_RU.UTF-8") || std::setlocale(LC_ALL, "de_DE.UTF-8");
  const auto inComma = ParseTypedNumber("33,33");
  const int check = CheckNumber("99,5", 2, 0, 0);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(inC, 33.33);
  if (haveComma) {
    EXPECT_EQ(inComma, 33.33);
    EXPECT_EQ(check, 0);
  }
}

struct KeyCase {
  bool empty;
  int vk;
  bool shift;
  int dec;  // DecKeyFilter
  int integer;  // IntKeyFilter (shift not considered)
};

class KeyFilters : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyFilters, Results) {
  const KeyCase& k = GetParam();
  EXPECT_EQ(DecKeyFilter(k.empty, k.vk, k.shift), k.dec) << std::hex << k.vk << " shift " << k.shift;
  EXPECT_EQ(IntKeyFilter(k.empty, k.vk), k.integer) << std::hex << k.vk;
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyFilters,
    ::testing::Values(
        // digits: decimal filter only without Shift; integer filter always
        KeyCase{false, 0x30, false, 0, 0}, KeyCase{false, 0x39, true, 1, 0},
        KeyCase{true, 0x60, false, 0, 0}, KeyCase{false, 0x69, true, 1, 0},
        // editing keys, with and without Shift
        KeyCase{false, 0x08, true, 0, 0}, KeyCase{false, 0x2E, false, 0, 0}, KeyCase{false, 0x10, true, 0, 0},
        KeyCase{false, 0x11, false, 0, 0}, KeyCase{false, 0x25, true, 0, 0}, KeyCase{false, 0x27, false, 0, 0},
        KeyCase{false, 0x90, false, 0, 0}, KeyCase{false, 0x14, true, 0, 0},
        // numeric-pad point and minus: decimal always, integer never
        KeyCase{false, 0x6E, true, 0, 1}, KeyCase{false, 0x6D, false, 0, 1},
        // comma, minus: without Shift; slash: with Shift only; integer never
        KeyCase{false, 0xBC, false, 0, 1}, KeyCase{false, 0xBC, true, 1, 1},
        KeyCase{false, 0xBD, false, 0, 1}, KeyCase{false, 0xBD, true, 1, 1},
        KeyCase{false, 0xBF, true, 0, 1}, KeyCase{false, 0xBF, false, 1, 1},
        // Enter: 13 in a non-empty field, rejected in an empty one
        KeyCase{false, 0x0D, false, 13, 13}, KeyCase{true, 0x0D, false, 1, 1}, KeyCase{false, 0x0D, true, 13, 13},
        // everything else
        KeyCase{false, 0xBE, false, 1, 1}, KeyCase{false, 0x41, false, 1, 1}, KeyCase{false, 0x20, false, 1, 1},
        KeyCase{false, 0x6B, false, 1, 1}, KeyCase{false, 0x2F, false, 1, 1}, KeyCase{false, 0x3A, false, 1, 1},
        KeyCase{false, 0x5F, false, 1, 1}, KeyCase{false, 0x6A, false, 1, 1}, KeyCase{false, 0x26, false, 1, 1}));

}  // namespace
