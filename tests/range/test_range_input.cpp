// The range edits' key filter and text check, and the number formats of the
// dialog.

#include <gtest/gtest.h>

#include "RangeInput.h"

using pmrange::CheckRangeText;
using pmrange::KeyResult;
using pmrange::RangeKeyFilter;

TEST(RangeKeyFilter, ByCodeAndShift) {
  for (int k = 0x30; k <= 0x39; ++k) {
    EXPECT_EQ(RangeKeyFilter(k, false, true), KeyResult::Accepted) << k;
    EXPECT_EQ(RangeKeyFilter(k, true, false), KeyResult::Rejected) << k;
    EXPECT_EQ(RangeKeyFilter(k + 0x30, false, false), KeyResult::Accepted) << k + 0x30;  // keypad
    EXPECT_EQ(RangeKeyFilter(k + 0x30, true, false), KeyResult::Rejected) << k + 0x30;
  }
  for (int k : {0x08, 0x2E, 0x10, 0x11, 0x25, 0x27, 0x90, 0x14, 0x6E, 0x6D})
    for (bool shift : {false, true}) EXPECT_EQ(RangeKeyFilter(k, shift, true), KeyResult::Accepted) << k;
  EXPECT_EQ(RangeKeyFilter(0xBC, false, false), KeyResult::Accepted);
  EXPECT_EQ(RangeKeyFilter(0xBC, true, false), KeyResult::Rejected);
  EXPECT_EQ(RangeKeyFilter(0xBD, false, false), KeyResult::Accepted);
  EXPECT_EQ(RangeKeyFilter(0xBD, true, false), KeyResult::Rejected);
  EXPECT_EQ(RangeKeyFilter(0xBF, true, false), KeyResult::Accepted);
  EXPECT_EQ(RangeKeyFilter(0xBF, false, false), KeyResult::Rejected);
  EXPECT_EQ(RangeKeyFilter(0x0D, false, false), KeyResult::Enter);
  EXPECT_EQ(RangeKeyFilter(0x0D, true, false), KeyResult::Enter);
  EXPECT_EQ(RangeKeyFilter(0x0D, false, true), KeyResult::Rejected);
  // Neighbours of the accepted codes, the point key, letters, space, Tab.
  for (int k : {0x00, 0x09, 0x20, 0x2F, 0x3A, 0x41, 0x5A, 0x5F, 0x6A, 0x6B, 0x6C, 0x6F, 0xBB, 0xBE, 0xC0, 0x26, 0x28})
    EXPECT_EQ(RangeKeyFilter(k, false, false), KeyResult::Rejected) << k;
}

TEST(RangeTextCheck, CharacterRules) {
  EXPECT_EQ(CheckRangeText("12,5"), 12.5);
  EXPECT_EQ(CheckRangeText("-40"), -40.0);
  EXPECT_EQ(CheckRangeText("0"), 0.0);
  EXPECT_EQ(CheckRangeText("00"), 0.0);
  EXPECT_EQ(CheckRangeText(",5"), 0.5);
  EXPECT_EQ(CheckRangeText("-0,25"), -0.25);
  for (const char* bad : {"", "12,", ",", "1,2,5", "1,,", "5-", "--5", "-", "12-3", "1б", "Б", "?", "1?2", "б,5"})
    EXPECT_FALSE(CheckRangeText(bad)) << bad;
}

TEST(RangeTextCheck, Bounds) {
  EXPECT_EQ(CheckRangeText("32767"), 32767.0);
  EXPECT_EQ(CheckRangeText("-32767"), -32767.0);
  EXPECT_EQ(CheckRangeText("32766,9"), 32766.9);
  EXPECT_FALSE(CheckRangeText("40000"));
  EXPECT_FALSE(CheckRangeText("32768"));
  EXPECT_FALSE(CheckRangeText("32767,01"));
  EXPECT_FALSE(CheckRangeText("-32767,5"));
  EXPECT_FALSE(CheckRangeText("99999999999999999999"));
}

TEST(RangeTextCheck, NotANumberAtAll) {
  // Texts that pass the character rules but are no number: pasted letters,
  // a point as separator, blanks, an exponent.
  for (const char* bad : {"abc", "1a", "12.5", " 12", "12 ", "1e3", "+5", "0x10", "٣", "12,5x", "12345678,", "0000000-5"})
    EXPECT_FALSE(CheckRangeText(bad)) << bad;
  EXPECT_FALSE(CheckRangeText("\xff\xfe"));  // not UTF-8
  // The character rules look at the first seven characters only; the rest
  // still has to form a number.
  EXPECT_EQ(CheckRangeText("00000001,5"), 1.5);
}

TEST(RangeFormats, RangeValuesAndNodeCodes) {
  EXPECT_EQ(pmrange::FormatRangeValue(12.5), "12,5");
  EXPECT_EQ(pmrange::FormatRangeValue(-40), "-40");
  EXPECT_EQ(pmrange::FormatRangeValue(0), "0");
  EXPECT_EQ(pmrange::FormatRangeValue(-0.0), "0");
  EXPECT_EQ(pmrange::FormatRangeValue(32766.9), "32766,9");
  EXPECT_EQ(CheckRangeText(pmrange::FormatRangeValue(-0.1)), -0.1);

  EXPECT_EQ(pmrange::FormatNodeCode(511.6), "512");
  EXPECT_EQ(pmrange::FormatNodeCode(1024.49), "1024");
  EXPECT_EQ(pmrange::FormatNodeCode(2047.5), "2048");
  EXPECT_EQ(pmrange::FormatNodeCode(-0.4), "0");
  EXPECT_EQ(pmrange::FormatNodeCode(-3.5), "-4");
  EXPECT_EQ(pmrange::FormatNodeCode(7168.0000001), "7168");
}
