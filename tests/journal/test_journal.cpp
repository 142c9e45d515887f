// The journal file: entries survive their writer and a reopen, every filter
// finds exactly its entries, a writer killed between the begin and
// the finish of an entry leaves it "not completed" with its before block,
// two writers at once lose nothing, and a folder or disk that cannot take
// the journal gets its message.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "EntryText.h"
#include "Journal.h"

namespace fs = std::filesystem;
using pmjournal::Entry;
using pmjournal::Journal;
using pmjournal::Outcome;

namespace {

class JournalFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("pmjournal-" + std::to_string(getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    path = (dir / "sub" / "journal.sqlite").string();
  }
  void TearDown() override { fs::remove_all(dir); }

  static Entry Make(const std::string& port, int address, int model, std::int64_t atMs, const std::string& op) {
    Entry e;
    e.port = port;
    e.address = address;
    e.model = model;
    e.version = 3;
    e.atMs = atMs;
    e.operation = op;
    e.before = {1, 2, 3};
    return e;
  }
  static std::string Bytes(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  fs::path dir;
  std::string path;
};

TEST_F(JournalFile, BeginFinishAndEveryFilter) {
  auto j = Journal::Open(path).journal;
  const std::int64_t t = 1'700'000'000'000;
  j->Begin(Make("/dev/ttyUSB0", 1, 101, t, "Запись (F10)"));
  j->Begin(Make("/dev/ttyUSB0", 2, 102, t + 1000, "Запись (F10)"));
  j->Begin(Make("/dev/ttyUSB1", 1, 101, t + 2000, "Калибровка"));
  const std::int64_t id = j->Begin(Make("/dev/ttyUSB0", 1, 103, t + 3000, "Калибровка"));
  j->Finish(id, {1, 2, 4}, {1, 2, 4}, Outcome::Done, {}, 0, "после записи");

  const Entry done = *j->Get(id);
  EXPECT_EQ(done.outcome, Outcome::Done);
  EXPECT_EQ(done.before, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(done.after, (std::vector<std::uint8_t>{1, 2, 4}));
  EXPECT_EQ(done.detail, "после записи");
  EXPECT_FALSE(done.user.empty());
  EXPECT_NE(done.at.find('T'), std::string::npos);
  EXPECT_FALSE(j->Get(id + 100));

  struct Case {
    pmjournal::Filter filter;
    std::vector<int> addresses;  // newest first
  };
  using F = pmjournal::Filter;
  const auto with = [](auto set) {
    F f;
    set(f);
    return f;
  };
  const Case cases[] = {
      {{}, {1, 1, 2, 1}},
      {with([](F& f) { f.port = "/dev/ttyUSB0"; }), {1, 2, 1}},
      {with([](F& f) { f.port = "/dev/ttyUSB0", f.address = 1; }), {1, 1}},
      {with([](F& f) { f.model = 101; }), {1, 1}},
      {with([&](F& f) { f.sinceMs = t + 1000, f.untilMs = t + 3000; }), {1, 2}},
      {with([](F& f) { f.operation = "Калибровка"; }), {1, 1}},
      {with([](F& f) { f.limit = 1; }), {1}},
  };
  for (const Case& c : cases) {
    std::vector<int> got;
    for (const Entry& e : j->Query(c.filter)) got.push_back(e.address);
    EXPECT_EQ(got, c.addresses);
  }
}

TEST_F(JournalFile, AWriterKilledMidWriteLeavesTheBeforeBlockNotCompleted) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto j = Journal::Open(path).journal;
    j->Begin(Make("/dev/ttyUSB0", 5, 101, 0, "Запись (F10)"));
    raise(SIGKILL);  // the write to the instrument would go out now
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  const auto entries = Journal::Open(path).journal->Query({});
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].outcome, Outcome::Pending);
  EXPECT_EQ(pmjournal::OutcomeText(entries[0].outcome), "не завершено");
  EXPECT_EQ(entries[0].before, (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(JournalFile, TwoWritersAtOnceLoseNothing) {
  Journal::Open(path);
  constexpr int kEach = 150;
  const auto writer = [this](int address) {
    auto j = Journal::Open(path).journal;
    for (int i = 0; i < kEach; ++i) j->Finish(j->Begin(Make("p", address, 100, 0, "x")), {9}, {9}, Outcome::Done);
  };
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    try {
      writer(2);
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  std::thread second(writer, 3);
  writer(1);
  second.join();
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  auto j = Journal::Open(path).journal;
  for (int address : {1, 2, 3}) {
    pmjournal::Filter f;
    f.address = address;
    const auto mine = j->Query(f);
    EXPECT_EQ(mine.size(), std::size_t{kEach});
    for (const Entry& e : mine) EXPECT_EQ(e.outcome, Outcome::Done);
  }
}

TEST_F(JournalFile, AFolderOrDiskThatCannotTakeItGetsItsMessage) {
  // A file where the folder should be.
  fs::create_directories(dir);
  std::ofstream((dir / "sub").string()) << "not a folder";
  try {
    Journal::Open(path);
    ADD_FAILURE();
  } catch (const pmjournal::JournalError& e) {
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  fs::remove(dir / "sub");

  // A file-size limit stands in for a full disk: the entry that does not fit
  // is refused with the cause, and every entry before it stays.
  Journal::Open(path);
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  const pid_t child = fork();
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    auto j = Journal::Open(path).journal;
    // Each entry takes its row and its index pages in the write-ahead log.
    const rlimit limit{512 * 1024, 512 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    Entry big = Make("p", 1, 100, 0, "x");
    big.detail.assign(4000, 'd');
    std::string message;
    try {
      for (int i = 0; i < 1000; ++i) j->Begin(big);
    } catch (const pmjournal::JournalError& e) {
      message = e.what();
    }
    (void)!write(pipeFds[1], message.data(), message.size());
    _exit(0);
  }
  close(pipeFds[1]);
  std::string message;
  char buf[512];
  for (ssize_t n; (n = read(pipeFds[0], buf, sizeof buf)) > 0;) message.append(buf, static_cast<std::size_t>(n));
  close(pipeFds[0]);
  waitpid(child, nullptr, 0);
  EXPECT_NE(message.find("запись не сохранена"), std::string::npos) << message;
  const auto kept = Journal::Open(path).journal->Query({});
  EXPECT_GT(kept.size(), 10u);
}

TEST(JournalText, CsvKeepsEveryFieldInItsColumnAndNamesTheChanges) {
  Entry e;
  e.id = 7;
  e.model = 101;
  e.version = 3;
  e.operation = "Загрузка; \"файл\"";
  e.before.assign(40, 0);
  e.after = e.before;
  e.after[4] = 1;  // alarm type
  e.outcome = Outcome::Failed;
  e.step = "подтверждение";
  e.result = 3;
  const std::string row = pmjournal::CsvRow(e);
  EXPECT_NE(row.find(";\"Загрузка; \"\"файл\"\"\";"), std::string::npos) << row;
  EXPECT_NE(row.find("ошибка: подтверждение (код 3)"), std::string::npos);
  EXPECT_NE(pmjournal::ChangesText(e).find(" -> "), std::string::npos);
  const std::string text = pmjournal::CsvText({e, e});
  EXPECT_EQ(text.rfind("\xEF\xBB\xBF", 0), 0u);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
  // Without an after block the block sent is compared; without either
  // nothing is marked as changed.
  e.after.clear();
  e.sent = e.before;
  e.sent[5] = 9;
  EXPECT_EQ(pmjournal::SecondColumn(e), "Отправлено (не подтверждено)");
  EXPECT_NE(pmjournal::ChangesText(e), "");
  e.sent.clear();
  EXPECT_EQ(pmjournal::ChangesText(e), "");
  EXPECT_EQ(pmjournal::SecondColumn(e), "После (не прочитано)");
}

TEST(JournalText, TheTimeTheBeforeBlockWasRead) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  Entry e;
  e.atMs = 1'765'297'211'000;  // 2025-12-09 16:20:11 UTC
  EXPECT_EQ(pmjournal::BeforeReadText(e), "");
  e.beforeReadMs = e.atMs - 95'000;
  EXPECT_EQ(pmjournal::BeforeReadText(e), "до записи, прочитано в 16:18:36");
  e.beforeReadMs = e.atMs - 17 * 3600'000;
  EXPECT_EQ(pmjournal::BeforeReadText(e), "до записи, прочитано 2025-12-08 в 23:20:11");
}

}  // namespace
