// The checks in the journal's file: a file of schema 3 is listed as it is
// when opened to read and brought to the current schema when opened to write; a check
// comes back whole; a visit finds its as-found and as-left checks and the
// adjustment's entries of that instrument only; a file whose check tables
// are not ours is refused untouched.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "CheckReport.h"
#include "CheckStore.h"
#include "JournalFile.h"
#include "SqlFile.h"

namespace fs = std::filesystem;
using namespace pmverify;
using pmjournal::Journal;

namespace {

class CheckStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("pmverify-" + std::to_string(getpid()) + testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    path = (dir / "journal.sqlite").string();
  }
  void TearDown() override { fs::remove_all(dir); }

  void Sql(const std::string& sql) { testsupport::RunSql(path, sql); }
  std::string Bytes() const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  static CheckRecord Check(const std::string& port, int address, std::int64_t atMs, Stage stage, double error) {
    CheckRecord c;
    c.port = port;
    c.address = address;
    c.atMs = atMs;
    c.stage = stage;
    c.identification = "ЗЕТ-ТП  700100.002  ПО.V6  0xA1000003";
    c.scale = ScaleOf(102, 6, 2, 0, 1100);
    c.setup.points = {0, 550, 1100};
    c.setup.tolerance = {ToleranceKind::Reduced, 0.5};
    c.setup.coldJunction = ColdJunction::Copper;
    c.setup.equipment = {"Калибратор", "123", "С-ВЯ/01-02-2026/1", "2027-02-01"};
    c.setup.conditions = {"22", "45"};
    std::vector<PointResult> results;
    for (double p : c.setup.points) {
      PointRecord r;
      r.result = Evaluate(c.scale, c.setup.tolerance, p, {p + error, p + error}, ExpectedCurrent(c.scale, p));
      r.signal = {1.25, "мВ", 23.5, "1,250 мВ (30 °C, Тхс 23,50 °C)"};
      c.points.push_back(r);
      results.push_back(r.result);
    }
    c.verdict = Overall(results);
    return c;
  }

  fs::path dir;
  std::string path;
};

// Schema 3 as the previous version writes it.
const char* kSchema3 =
    "PRAGMA journal_mode=WAL; CREATE TABLE entries (id INTEGER PRIMARY KEY, at_ms INTEGER NOT NULL, at TEXT NOT NULL,"
    " port TEXT NOT NULL, address INTEGER NOT NULL, model INTEGER NOT NULL, version INTEGER NOT NULL,"
    " access INTEGER NOT NULL, identification TEXT NOT NULL, operation TEXT NOT NULL, user TEXT NOT NULL,"
    " host TEXT NOT NULL, program TEXT NOT NULL, before BLOB NOT NULL, after BLOB NOT NULL,"
    " outcome INTEGER NOT NULL, step TEXT NOT NULL, result INTEGER NOT NULL, detail TEXT NOT NULL,"
    " sent BLOB NOT NULL DEFAULT x'', before_read_ms INTEGER NOT NULL DEFAULT 0);"
    "CREATE INDEX entries_instrument ON entries(port, address, at_ms); CREATE INDEX entries_time ON entries(at_ms);"
    "INSERT INTO entries VALUES (5, 1000, 't', 'p', 3, 102, 6, 1, 'i', 'o', 'u', 'h', 'pr', x'01', x'02', 1, '', 0, "
    "'', x'', 0);"
    "PRAGMA user_version=3; PRAGMA application_id=";

TEST_F(CheckStoreTest, AFileOfSchema3IsReadAsItIsAndBroughtForwardForWriting) {
  Sql(kSchema3 + std::to_string(pmjournal::kApplicationId));
  const std::string before = Bytes();
  {
    auto reader = Journal::Open(path, Journal::Mode::Read).journal;
    EXPECT_EQ(reader->SchemaVersion(), 3);
    EXPECT_EQ(reader->Query({}).size(), 1u);
    EXPECT_TRUE(ListChecks(*reader, {}).empty());
    EXPECT_FALSE(GetCheck(*reader, 1));
  }
  EXPECT_EQ(Bytes(), before);
  auto writer = Journal::Open(path).journal;
  EXPECT_EQ(writer->SchemaVersion(), pmjournal::kSchemaVersion);
  CheckRecord c = Check("p", 3, 2000, Stage::AsFound, 1);
  StoreCheck(*writer, c);
  writer.reset();
  auto reader = Journal::Open(path, Journal::Mode::Read).journal;
  EXPECT_EQ(reader->Query({}).size(), 1u);
  const CheckRecord back = *GetCheck(*reader, c.id);
  EXPECT_EQ(back.setup.equipment, c.setup.equipment);
  EXPECT_EQ(back.setup.conditions, c.setup.conditions);
  EXPECT_EQ(back.setup.coldJunction, ColdJunction::Copper);
  EXPECT_EQ(back.scale.sensor, "XA(K)");
  EXPECT_EQ(back.points.size(), 3u);
  EXPECT_EQ(back.points[1].signal.text, c.points[1].signal.text);
  EXPECT_EQ(back.points[1].signal.coldJunction, 23.5);
  EXPECT_EQ(back.points[1].result.readings, c.points[1].result.readings);
  EXPECT_EQ(back.points[1].result.current, 12.0);  // the current the range defines at 550 °C
  EXPECT_FALSE(back.user.empty());
  EXPECT_NE(back.at.find('+') + back.at.find('-', 10), std::string::npos);  // with its UTC offset
}

TEST_F(CheckStoreTest, AVisitKeepsItsChecksAndTheAdjustmentOfThatInstrument) {
  auto j = Journal::Open(path).journal;
  CheckRecord found = Check("/dev/ttyUSB0", 3, 1'000'000, Stage::AsFound, 9);
  StoreCheck(*j, found);
  auto entry = [&](const std::string& port, int address, std::int64_t at) {
    pmjournal::Entry e;
    e.port = port;
    e.address = address;
    e.atMs = at;
    e.operation = "Калибровка начала шкалы";
    return j->Record(e);
  };
  const std::int64_t start = entry("/dev/ttyUSB0", 3, 1'000'100);
  entry("/dev/ttyUSB0", 4, 1'000'200);  // another instrument
  entry("/dev/ttyUSB1", 3, 1'000'250);  // another line
  const std::int64_t end = entry("/dev/ttyUSB0", 3, 1'000'300);
  entry("/dev/ttyUSB0", 3, 2'000'000);  // after the visit
  CheckRecord left = Check("/dev/ttyUSB0", 3, 1'000'400, Stage::AsLeft, 0.5);
  left.visit = found.id;
  left.adjustments = EntriesBetween(*j, left.port, left.address, found.atMs, left.atMs);
  EXPECT_EQ(left.adjustments, (std::vector<std::int64_t>{start, end}));
  StoreCheck(*j, left);
  for (std::int64_t id : {found.id, left.id}) {
    const Visit v = VisitOf(*j, id);
    ASSERT_TRUE(v.asFound && v.asLeft) << id;
    EXPECT_EQ(v.asFound->id, found.id);
    EXPECT_EQ(v.asLeft->id, left.id);
    EXPECT_EQ(v.asLeft->adjustments, left.adjustments);
    EXPECT_FALSE(v.asFound->verdict.pass);
    EXPECT_TRUE(v.asLeft->verdict.pass);
  }
  CheckFilter f;
  f.address = 3;
  f.sinceMs = 1'000'200;
  ASSERT_EQ(ListChecks(*j, f).size(), 1u);
  EXPECT_EQ(ListChecks(*j, f)[0].id, left.id);
  f.limit = 0;
  EXPECT_TRUE(ListChecks(*j, f).empty());

  // The record names both checks, the adjustment and every point's values.
  const std::string html = ProtocolHtml(VisitOf(*j, found.id), {"2026-12-09", "pmservice 0.1.0"});
  for (const std::string& text : std::vector<std::string>{"Протокол калибровки", "+9,00 °C (+0,818 %)", "+0,50 °C (+0,045 %)", "не годен", "годен",
        "записи журнала изменений № " + std::to_string(start) + ", № " + std::to_string(end), "Калибратор, зав. № 123",
        "не является свидетельством о поверке", "pmservice 0.1.0"})
    EXPECT_NE(html.find(text), std::string::npos) << text;
  const std::string csv = CheckCsvText(ListChecks(*j, {}));
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 7);  // the header and three points of each check
  EXPECT_NE(csv.find("как оставлено"), std::string::npos);
}

TEST_F(CheckStoreTest, CheckTablesOfAnotherShapeAreRefusedUntouched) {
  Journal::Open(path);
  Sql("ALTER TABLE check_points ADD COLUMN extra TEXT");
  const std::string before = Bytes();
  for (auto mode : {Journal::Mode::Read, Journal::Mode::Write})
    EXPECT_THROW(Journal::Open(path, mode), pmjournal::JournalError);
  EXPECT_EQ(Bytes(), before);
}

}  // namespace
