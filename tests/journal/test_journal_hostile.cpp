// The journal when things go wrong: files that are not our journal are
// refused untouched; reading never creates or changes anything; several
// programs meeting a damaged or a new journal at once lose no entry and
// move aside only a file that is damaged; an entry begun in a file another
// program moved aside is carried into the live one.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "Journal.h"
#include "JournalFile.h"
#include "SqlFile.h"

namespace fs = std::filesystem;
using pmjournal::Entry;
using pmjournal::Journal;

namespace {

std::string Bytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

using testsupport::RunSql;

Entry Make(int address, const std::string& detail = {}) {
  Entry e;
  e.port = "/dev/ttyUSB0";
  e.address = address;
  e.model = 102;
  e.version = 6;
  e.operation = "Запись (F10)";
  e.before = {1, 2, 3};
  e.detail = detail;
  return e;
}

// The names in a folder, sorted.
std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& f : fs::directory_iterator(dir)) names.insert(f.path().filename().string());
  return names;
}

bool PassesCheck(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  sqlite3_stmt* s = nullptr;
  bool ok = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW &&
            std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, 0))) == "ok";
  sqlite3_finalize(s);
  sqlite3_close(db);
  return ok;
}

// Runs `body` in a child process; its exit code (or 128 + signal).
pid_t Child(const std::function<int()>& body) {
  const pid_t pid = fork();
  if (pid == 0) {
    int code = 99;
    try {
      code = body();
    } catch (...) {
      code = 98;
    }
    _exit(code);
  }
  return pid;
}
int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class JournalHostile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("pmjournal-hostile-" + std::to_string(getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    path = (dir / "journal.sqlite").string();
  }
  void TearDown() override {
    fs::permissions(dir, fs::perms::owner_all);
    fs::remove_all(dir);
  }
  // A journal of `n` entries, written out to the main file.
  void Fill(int n) {
    auto j = Journal::Open(path).journal;
    for (int i = 0; i < n; ++i) j->Record(Make(1 + i % 32, std::string(150, 'd')));
  }
  fs::path dir;
  std::string path;
};

TEST_F(JournalHostile, FilesThatAreNotOurJournalAreRefusedUntouched) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* says;
  };
  const Case cases[] = {
      {"a settings file", [](const std::string& p) { std::ofstream(p) << "{\"format\": \"pmservice\"}\n"; },
       "не является журналом"},
      {"another program's database",
       [](const std::string& p) { RunSql(p, "CREATE TABLE notes (id INTEGER, text TEXT); INSERT INTO notes VALUES (1, 'x')"); },
       "не является журналом"},
      {"a database marked by another program",
       [](const std::string& p) { RunSql(p, "PRAGMA application_id=1234; CREATE TABLE entries (id INTEGER)"); },
       "не является журналом"},
      {"our mark with a negative version",
       [](const std::string& p) {
         RunSql(p, "PRAGMA application_id=" + std::to_string(pmjournal::kApplicationId) + "; PRAGMA user_version=-100000");
       },
       "не является журналом"},
      {"an unmarked database with a negative version and our tables",
       [](const std::string& p) {
         RunSql(p, "PRAGMA user_version=-1; CREATE TABLE entries (id INTEGER PRIMARY KEY, at_ms INTEGER NOT NULL)");
       },
       "не является журналом"},
      {"our mark, version and a recursive view for a table",
       [](const std::string& p) {
         RunSql(p, "PRAGMA application_id=" + std::to_string(pmjournal::kApplicationId) +
                    "; PRAGMA user_version=3; CREATE VIEW entries AS WITH RECURSIVE r(x) AS (SELECT 1 UNION ALL "
                    "SELECT x + 1 FROM r) SELECT x FROM r");
       },
       "не является журналом"},
      {"an unmarked database whose columns are of other types",
       [](const std::string& p) { RunSql(p, "PRAGMA user_version=1; CREATE TABLE entries (id TEXT, at_ms BLOB)"); },
       "не является журналом"},
      {"a newer journal", [](const std::string& p) {
         Journal::Open(p);
         RunSql(p, "PRAGMA user_version=99");
       },
       "более новой версией"},
      {"a folder", [](const std::string& p) { fs::create_directory(p); }, "папка"},
      {"a FIFO", [](const std::string& p) { mkfifo(p.c_str(), 0600); }, "канал"},
  };
  for (const Case& c : cases) {
    for (const Journal::Mode mode : {Journal::Mode::Write, Journal::Mode::Read}) {
      SCOPED_TRACE(std::string(c.name) + (mode == Journal::Mode::Write ? ", to write" : ", to read"));
      fs::remove_all(dir);
      fs::create_directories(dir);
      c.make(path);
      const bool regular = fs::is_regular_file(path);
      const std::string before = regular ? Bytes(path) : "";
      const auto names = Names(dir);
      try {
        Journal::Open(path, mode);
        ADD_FAILURE() << "opened";
      } catch (const pmjournal::JournalError& e) {
        EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      }
      if (regular) {
        EXPECT_TRUE(Bytes(path) == before);
      }
      EXPECT_EQ(Names(dir), names);
    }
  }
}

TEST_F(JournalHostile, AJournalOfAnEarlierVersionIsBroughtForwardAndMarked) {
  // Schema 2 as earlier versions wrote it: no mark, no columns of schema 3.
  RunSql(path,
      "PRAGMA journal_mode=WAL; CREATE TABLE entries (id INTEGER PRIMARY KEY, at_ms INTEGER NOT NULL, at TEXT NOT NULL,"
      " port TEXT NOT NULL, address INTEGER NOT NULL, model INTEGER NOT NULL, version INTEGER NOT NULL,"
      " access INTEGER NOT NULL, identification TEXT NOT NULL, operation TEXT NOT NULL, user TEXT NOT NULL,"
      " host TEXT NOT NULL, program TEXT NOT NULL, before BLOB NOT NULL, after BLOB NOT NULL,"
      " outcome INTEGER NOT NULL, step TEXT NOT NULL, result INTEGER NOT NULL, detail TEXT NOT NULL);"
      "CREATE INDEX entries_instrument ON entries(port, address, at_ms); CREATE INDEX entries_time ON entries(at_ms);"
      "INSERT INTO entries VALUES (7, 1, 't', 'p', 3, 102, 6, 1, 'i', 'o', 'u', 'h', 'pr', x'0102', x'0103', 1, '', 0, '');"
      "INSERT INTO entries VALUES (8, 2, 't', 'p', 3, 102, 6, 1, 'i', 'o', 'u', 'h', 'pr', x'0102', x'0103', 1, '', 0, '');"
      "PRAGMA user_version=2");
  // Reading leaves it as it is.
  EXPECT_EQ(Journal::Open(path, Journal::Mode::Read).journal->Query({}).size(), 2u);
  EXPECT_EQ(Bytes(path).substr(68, 4), std::string(4, '\0'));
  auto j = Journal::Open(path).journal;
  const Entry kept = *j->Get(7);
  EXPECT_EQ(kept.after, (std::vector<std::uint8_t>{1, 3}));
  EXPECT_TRUE(kept.sent.empty());
  // Entries of earlier versions get identities of their own, and wait for
  // the team server.
  const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  EXPECT_TRUE(std::regex_match(kept.uuid, uuid)) << kept.uuid;
  EXPECT_NE(j->Get(8)->uuid, kept.uuid);
  EXPECT_EQ(j->CountWaiting(), 2u);
  Entry fresh = Make(4);
  fresh.sent = {9, 9};
  fresh.beforeReadMs = 1234;
  const Entry back = *j->Get(j->Record(fresh));
  EXPECT_EQ(back.sent, fresh.sent);
  EXPECT_EQ(back.beforeReadMs, 1234);
  EXPECT_TRUE(std::regex_match(back.uuid, uuid)) << back.uuid;
  EXPECT_EQ(j->CountWaiting(), 3u);
  j.reset();
  const pmjournal::Header h = pmjournal::ReadHeader(reinterpret_cast<const unsigned char*>(Bytes(path).data()), 100,
                                                    fs::file_size(path));
  EXPECT_EQ(h.kind, pmjournal::FileKind::Ours);
  EXPECT_EQ(h.userVersion, pmjournal::kSchemaVersion);
}

TEST_F(JournalHostile, ReadingNeverCreatesOrChangesAnything) {
  // A mistyped path: an error, and no folder made.
  const std::string missing = (dir / "no" / "such" / "journal.sqlite").string();
  EXPECT_THROW(Journal::Open(missing, Journal::Mode::Read), pmjournal::JournalError);
  EXPECT_FALSE(fs::exists(dir / "no"));

  // An empty file is a journal with nothing in it yet.
  std::ofstream(path).close();
  EXPECT_TRUE(Journal::Open(path, Journal::Mode::Read).journal->Query({}).empty());
  EXPECT_EQ(fs::file_size(path), 0u);

  // A journal in a folder nobody may write, read by an ordinary user: listed,
  // and no file left beside it.
  fs::remove(path);
  Fill(20);
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  const auto names = Names(dir);
  const std::string before = Bytes(path);
  const int code = Wait(Child([this] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 97;
    try {
      return static_cast<int>(Journal::Open(path, Journal::Mode::Read).journal->Count({}));
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 96;
    }
  }));
  EXPECT_EQ(code, 20);
  EXPECT_EQ(Names(dir), names);
  EXPECT_EQ(Bytes(path), before);
}

TEST_F(JournalHostile, ProgramsMeetingADamagedJournalLoseNoEntry) {
  // A journal cut short, as a copy broken off half-way leaves it.
  Fill(600);
  const std::string good = Bytes(path);
  ASSERT_GT(good.size(), 60'000u);
  for (int round = 0; round < 3; ++round) {
    for (const auto& f : fs::directory_iterator(dir)) fs::remove(f.path());
    std::ofstream(path, std::ios::binary) << good.substr(0, good.size() / 2);
    constexpr int kPrograms = 8;
    std::vector<pid_t> programs;
    for (int p = 0; p < kPrograms; ++p)
      programs.push_back(Child([this, p] {
        auto j = Journal::Open(path).journal;
        const std::int64_t id = j->Begin(Make(p + 1, "program " + std::to_string(p)));
        j->Finish(id, {4}, {4}, pmjournal::Outcome::Done);
        return 0;
      }));
    std::vector<int> done;
    for (int p = 0; p < kPrograms; ++p)
      if (Wait(programs[p]) == 0) done.push_back(p);
    EXPECT_EQ(done.size(), std::size_t{kPrograms}) << "round " << round;
    auto live = Journal::Open(path, Journal::Mode::Read).journal;
    for (int p : done) {
      pmjournal::Filter f;
      f.address = p + 1;
      f.limit = 700;
      bool found = false;
      for (const Entry& e : live->Query(f))
        found = found || (e.detail == "program " + std::to_string(p) && e.outcome == pmjournal::Outcome::Done);
      EXPECT_TRUE(found) << "round " << round << ", program " << p;
    }
    // Only damaged files were moved aside, each once.
    int aside = 0;
    for (const auto& name : Names(dir))
      if (name.find(".damaged-") != std::string::npos && name.find("-wal") == std::string::npos &&
          name.find("-shm") == std::string::npos) {
        ++aside;
        EXPECT_FALSE(PassesCheck((dir / name).string())) << name;
      }
    EXPECT_EQ(aside, 1) << "round " << round;
  }
}

TEST_F(JournalHostile, ProgramsCreatingOneJournalAtOnceAllWrite) {
  for (int round = 0; round < 3; ++round) {
    fs::remove_all(dir);
    std::vector<pid_t> programs;
    for (int p = 0; p < 8; ++p)
      programs.push_back(Child([this, p] {
        Journal::Open(path).journal->Record(Make(p + 1));
        return 0;
      }));
    for (pid_t program : programs) EXPECT_EQ(Wait(program), 0) << "round " << round;
    EXPECT_EQ(Journal::Open(path, Journal::Mode::Read).journal->Count({}), 8u);
  }
}

TEST_F(JournalHostile, AnEntryBegunInAFileMovedAsideIsFinishedInTheLiveOne) {
  // A journal damaged inside: the pages in the middle overwritten.
  Fill(800);
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    const auto size = static_cast<std::streamoff>(fs::file_size(path));
    for (std::streamoff at = size / 3; at < size * 2 / 3; at += 4096 * 5) {
      f.seekp(at);
      f << std::string(4096, '\xA5');
    }
  }
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  const pid_t writer = Child([&] {
    auto j = Journal::Open(path).journal;
    const std::int64_t id = j->Begin(Make(32, "begun before the move"));
    char c = 'b';
    if (write(toParent[1], &c, 1) != 1 || read(toChild[0], &c, 1) != 1) return 2;
    j->Finish(id, {5}, {5}, pmjournal::Outcome::Done);
    return 0;
  });
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  // The window lists the journal, meets the damage and moves it aside.
  const auto opened = Journal::Open(path);
  EXPECT_TRUE(opened.notice.empty());
  opened.journal->Query({});
  const std::string notice = opened.journal->TakeNotice();
  EXPECT_NE(notice.find("повреждён и отложен как " + path + ".damaged-"), std::string::npos) << notice;
  ASSERT_EQ(write(toChild[1], &c, 1), 1);
  EXPECT_EQ(Wait(writer), 0);
  const auto live = Journal::Open(path, Journal::Mode::Read).journal->Query({});
  ASSERT_EQ(live.size(), 1u);
  EXPECT_EQ(live[0].detail, "begun before the move");
  EXPECT_EQ(live[0].outcome, pmjournal::Outcome::Done);
  EXPECT_EQ(live[0].after, (std::vector<std::uint8_t>{5}));
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

TEST_F(JournalHostile, AMissingWriteAheadLogIsNotDamage) {
  Fill(5);
  int toChild[2], toParent[2];
  ASSERT_EQ(pipe(toChild), 0);
  ASSERT_EQ(pipe(toParent), 0);
  const pid_t stopped = Child([&] {
    auto j = Journal::Open(path).journal;
    const std::int64_t id = j->Begin(Make(9, "stopped"));
    char c = 'b';
    if (write(toParent[1], &c, 1) != 1 || read(toChild[0], &c, 1) != 1) return 2;
    j->Finish(id, {}, {}, pmjournal::Outcome::Failed);
    return 0;
  });
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  fs::remove(path + "-wal");
  struct stat live {};
  ASSERT_EQ(stat(path.c_str(), &live), 0);
  try {
    auto j = Journal::Open(path).journal;
    j->Record(Make(10));
  } catch (const pmjournal::JournalError& e) {
    EXPECT_EQ(std::string(e.what()).find("повреждён"), std::string::npos) << e.what();
  }
  ASSERT_EQ(write(toChild[1], &c, 1), 1);
  Wait(stopped);
  struct stat after {};
  ASSERT_EQ(stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, live.st_ino);
  for (const auto& name : Names(dir)) EXPECT_EQ(name.find(".damaged-"), std::string::npos) << name;
  EXPECT_GE(Journal::Open(path, Journal::Mode::Read).journal->Count({}), 5u);
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

// A file's own schema runs in every write: a constraint that makes a value
// of 900 MB refuses the entry instead of taking that memory.
TEST_F(JournalHostile, AConstraintOfTheFileCannotTakeMuchMemory) {
  Fill(1);
  RunSql(path,
      "PRAGMA writable_schema=ON; UPDATE sqlite_schema SET sql = substr(sql, 1, length(sql) - 1) ||"
      " ', CHECK(length(randomblob(900000000)) > 0))' WHERE name = 'entries'");
  rusage before {};
  getrusage(RUSAGE_SELF, &before);
  try {
    Journal::Open(path).journal->Begin(Make(2));
    ADD_FAILURE() << "begun";
  } catch (const pmjournal::JournalError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  rusage after {};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 100 * 1024) << "kilobytes";
  EXPECT_EQ(Journal::Open(path, Journal::Mode::Read).journal->Count({}), 1u);
}

TEST(JournalPlace, NetworkFileSystemsAndTheConfiguredPath) {
  struct Case {
    long magic;
    const char* kind;
  };
  for (const Case& c : {Case{0x6969, "NFS"}, Case{0xFF534D42, "CIFS"}, Case{0xFE534D42, "SMB2"}, Case{0x517B, "SMB"},
                        Case{0x65735546, "FUSE"}, Case{0xEF53, ""}, Case{0x01021994, ""}, Case{0x58465342, ""}})
    EXPECT_EQ(pmjournal::NetworkFileSystem(c.magic), c.kind) << std::hex << c.magic;

  ::setenv("PMSERVICE_JOURNAL", "/srv/env.sqlite", 1);
  EXPECT_EQ(pmjournal::ConfiguredPath("/home/u/chosen.sqlite"), "/home/u/chosen.sqlite");
  EXPECT_EQ(pmjournal::ConfiguredPath(""), "/srv/env.sqlite");
  ::unsetenv("PMSERVICE_JOURNAL");
  EXPECT_EQ(pmjournal::ConfiguredPath(""), pmjournal::DefaultPath());
}

}  // namespace
