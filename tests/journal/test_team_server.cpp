// The team's journal server against a real PostgreSQL 15 of the test's own:
// laptops sending at once, a server that is down, stops in the middle of a
// send or cannot be reached, one that wants a password or TLS, entries
// finished after they went as not finished, and the server's refusal to
// change a finished entry or delete one.

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <regex>
#include <thread>

#include "Journal.h"
#include "PgServer.h"
#include "ServerAddress.h"
#include "TeamServer.h"
#include "TeamSync.h"

namespace fs = std::filesystem;
using pmjournal::Entry;
using pmjournal::Journal;
using pmjournal::Outcome;
using pmjournal::ServerAddress;
using pmjournal::SyncOnce;
using Clock = std::chrono::steady_clock;

namespace {

ServerAddress Address(const std::string& uri) {
  auto parsed = pmjournal::ParseServerAddress(uri);
  if (auto* why = std::get_if<std::string>(&parsed)) ADD_FAILURE() << *why;
  return std::get<ServerAddress>(parsed);
}

double SecondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

class TeamServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (testsupport::PgServer::Installed()) server = new testsupport::PgServer;
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }
  void SetUp() override {
    if (!server) GTEST_SKIP() << "PostgreSQL 15 is not installed (Debian package postgresql): " << testsupport::PgServer::kBin;
    ASSERT_TRUE(server->Ok()) << "the test's PostgreSQL did not start; see " << server->Root() << "/log";
    server->Start();
    // Journals on a memory file system where there is one: every entry is
    // synced to its disk.
    dir = fs::path(fs::exists("/dev/shm") ? "/dev/shm" : "/tmp") /
          ("pmteam-" + std::to_string(getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    db = server->NewDatabase();
    ASSERT_EQ(server->SchemaError(), "");
    address = Address(server->Uri(db));
  }
  void TearDown() override {
    if (!dir.empty()) fs::remove_all(dir);
  }

  std::unique_ptr<Journal> Laptop(const std::string& name) { return Journal::Open((dir / name).string()).journal; }
  static Entry Make(const std::string& port, int address) {
    Entry e;
    e.port = port;
    e.address = address;
    e.model = 102;
    e.version = 6;
    e.operation = "Запись (F10)";
    e.before = {1, 2, 3, 0, 4};
    return e;
  }
  // Begun and finished as a write does.
  static std::int64_t Write(Journal& j, const std::string& port, int address) {
    const std::int64_t id = j.Begin(Make(port, address));
    j.Finish(id, {5, 6}, {5, 6, 7}, Outcome::Done);
    return id;
  }
  std::string OnServer(const std::string& what = "count(*)") const {
    return server->Value("SELECT " + what + " FROM pmservice.entries", db);
  }

  static testsupport::PgServer* server;
  fs::path dir;
  std::string db;
  ServerAddress address;
};
testsupport::PgServer* TeamServer::server = nullptr;

TEST_F(TeamServer, ThreeLaptopsWritingAndSendingAtOnceEachEntryArrivesOnce) {
  constexpr int kEach = 150;
  std::vector<std::thread> laptops;
  std::vector<pmjournal::SyncReport> last(3);
  for (int n = 0; n < 3; ++n)
    laptops.emplace_back([&, n] {
      const std::string path = (dir / ("laptop" + std::to_string(n))).string();
      auto j = Journal::Open(path).journal;
      for (int i = 0; i < kEach; ++i) {
        Write(*j, "/dev/ttyUSB" + std::to_string(n), 1 + i % 32);
        if (i % 25 == 0) SyncOnce(path, address);
      }
      last[n] = SyncOnce(path, address);
    });
  for (auto& t : laptops) t.join();
  for (const auto& r : last) {
    EXPECT_TRUE(r.everything) << r.error;
    EXPECT_EQ(r.waiting, 0u);
  }
  EXPECT_EQ(OnServer(), std::to_string(3 * kEach));
  EXPECT_EQ(OnServer("count(DISTINCT uuid)"), std::to_string(3 * kEach));
  EXPECT_EQ(OnServer("count(*) FILTER (WHERE outcome = 1 AND after = '\\x050607' AND finished IS NOT NULL)"),
            std::to_string(3 * kEach));
}

TEST_F(TeamServer, WritesWhileTheServerIsDownArriveOnceWhenItIsBack) {
  auto j = Laptop("j");
  server->Stop();
  const auto started = Clock::now();
  for (int i = 0; i < 40; ++i) Write(*j, "COM1", 2);
  EXPECT_LT(SecondsSince(started), 5.0) << "a write never waits for the server";
  const auto down = SyncOnce((dir / "j").string(), address);
  EXPECT_FALSE(down.reached);
  EXPECT_EQ(down.waiting, 40u);
  EXPECT_NE(down.error.find("соединение отвергнуто"), std::string::npos) << down.error;
  ASSERT_TRUE(server->Start());
  const auto up = SyncOnce((dir / "j").string(), address);
  EXPECT_TRUE(up.everything) << up.error;
  EXPECT_EQ(up.sent, 40u);
  // Sent again (the marks lost, another copy of the journal): held once.
  auto copy = Laptop("copy");
  copy->Append(*j);
  EXPECT_EQ(copy->CountWaiting(), 40u);
  EXPECT_EQ(SyncOnce((dir / "copy").string(), address).sent, 40u);
  EXPECT_EQ(OnServer(), "40");
}

TEST_F(TeamServer, ServerStoppedInTheMiddleOfASendLosesNothingAndDoublesNothing) {
  {
    auto j = Laptop("j");
    for (int i = 0; i < 2000; ++i) Write(*j, "COM2", 1 + i % 4);
  }
  // Each row takes the server a little while, so that the send is still
  // under way when the server stops.
  ASSERT_EQ(server->Sql("CREATE FUNCTION slow() RETURNS trigger LANGUAGE plpgsql AS "
                        "$$ BEGIN PERFORM pg_sleep(0.0005); RETURN NEW; END $$;"
                        "CREATE TRIGGER slow BEFORE INSERT ON pmservice.entries FOR EACH ROW EXECUTE FUNCTION slow()",
                        db),
            "");
  auto sending = std::async(std::launch::async, [&] { return SyncOnce((dir / "j").string(), address); });
  // The first batch committed, the rest under way.
  const auto giveUp = Clock::now() + std::chrono::seconds(30);
  while (std::stoi(OnServer()) < 500 && Clock::now() < giveUp)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  server->Stop();
  const auto cut = sending.get();
  EXPECT_TRUE(cut.reached);
  EXPECT_FALSE(cut.everything);
  EXPECT_GT(cut.waiting, 0u);
  EXPECT_NE(cut.error.find("связь с сервером прервана"), std::string::npos) << cut.error;
  ASSERT_TRUE(server->Start());
  server->Sql("DROP TRIGGER slow ON pmservice.entries", db);
  const auto rest = SyncOnce((dir / "j").string(), address);
  EXPECT_TRUE(rest.everything) << rest.error;
  EXPECT_EQ(OnServer(), "2000");
  EXPECT_EQ(OnServer("count(DISTINCT uuid)"), "2000");
}

TEST_F(TeamServer, AnEntrySentUnfinishedIsCompletedOnTheServerWhenFinished) {
  auto j = Laptop("j");
  const std::int64_t id = j->Begin(Make("COM3", 7));
  EXPECT_EQ(SyncOnce((dir / "j").string(), address).sent, 1u);
  EXPECT_EQ(OnServer("outcome::text || ' ' || (finished IS NULL)::text"), "0 true");
  j->Finish(id, {8}, {8, 9}, Outcome::Failed, "передача блока (функция 69)", 130, "обрыв");
  EXPECT_EQ(j->CountWaiting(), 1u);
  EXPECT_TRUE(SyncOnce((dir / "j").string(), address).everything);
  EXPECT_EQ(OnServer("outcome || ' ' || result || ' ' || step || ' ' || detail || ' ' || encode(after, 'hex')"),
            "2 130 передача блока (функция 69) обрыв 0809");
  // The entry read back from the server is the one written.
  pmjournal::TeamServer history(address);
  const auto entries = history.Query({});
  ASSERT_EQ(entries.size(), 1u);
  const Entry local = *j->Get(id);
  EXPECT_EQ(entries[0].uuid, local.uuid);
  EXPECT_EQ(entries[0].before, local.before);
  EXPECT_EQ(entries[0].sent, local.sent);
  EXPECT_EQ(entries[0].at, local.at);
  EXPECT_EQ(entries[0].user, local.user);
}

TEST_F(TeamServer, TheServerRefusesToChangeAFinishedEntryOrDeleteOne) {
  auto j = Laptop("j");
  Write(*j, "COM4", 1);
  j->Begin(Make("COM4", 2));
  ASSERT_TRUE(SyncOnce((dir / "j").string(), address).reached);
  // As the writer's role, over its own connection.
  const std::string writer = "host=127.0.0.1 port=" + std::to_string(server->Port()) + " dbname=" + db +
                             " user=" + testsupport::PgServer::kWriter;
  const struct {
    const char* sql;
    bool allowed;
  } cases[] = {
      {"UPDATE pmservice.entries SET detail = 'подправлено' WHERE port = 'COM4' AND address = 1", false},
      {"UPDATE pmservice.entries SET outcome = 0 WHERE address = 1", false},
      {"UPDATE pmservice.entries SET port = 'COM9' WHERE address = 2", false},  // pending: only its outcome
      {"DELETE FROM pmservice.entries WHERE address = 2", false},
      {"TRUNCATE pmservice.entries", false},
      {"UPDATE pmservice.entries SET outcome = 3, step = 'x' WHERE address = 2", true},
      {"UPDATE pmservice.entries SET outcome = 1 WHERE address = 2", false},  // finished just now
  };
  for (const auto& c : cases) {
    PGconn* conn = PQconnectdb(writer.c_str());
    ASSERT_EQ(PQstatus(conn), CONNECTION_OK) << PQerrorMessage(conn);
    PGresult* r = PQexec(conn, c.sql);
    EXPECT_EQ(PQresultStatus(r) == PGRES_COMMAND_OK, c.allowed) << c.sql << ": " << PQerrorMessage(conn);
    PQclear(r);
    PQfinish(conn);
  }
  // Even the owner's triggers stand.
  EXPECT_NE(server->Sql("DELETE FROM pmservice.entries", db), "");
  EXPECT_EQ(OnServer(), "2");
  EXPECT_EQ(OnServer("string_agg(port || outcome || detail, ',' ORDER BY address)"), "COM41,COM43");
}

TEST_F(TeamServer, UnreachableServersAreReportedInBoundedTimeAndWritesGoOn) {
  const std::string free = std::to_string(testsupport::FreeLoopbackPort());
  const std::string bare = server->NewDatabase(false);
  const testsupport::SilentListener silent;
  const struct {
    std::string name, uri, message;
    bool reached;
  } cases[] = {
      {"refused", "postgresql://u@127.0.0.1:" + free + "/x", "соединение отвергнуто", false},
      {"unresolvable", "postgresql://u@pmservice-no-such-host.invalid:5432/x", "не найдено", false},
      {"silent", "postgresql://u@127.0.0.1:" + std::to_string(silent.Port()) + "/x?connect_timeout=1",
       "сервер не ответил за 1 с", false},
      {"no database", server->Uri("nosuchdb"), "нет такой базы данных", false},
      {"no journal", server->Uri(bare), "нет журнала изменений", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto j = Laptop(c.name);
    // The window's sender runs meanwhile, as it does after every write.
    std::atomic<int> rounds{0};
    pmjournal::SyncLoop loop((dir / c.name).string(), Address(c.uri), [&](const pmjournal::SyncReport&) { ++rounds; },
                             std::chrono::milliseconds(10));
    const auto started = Clock::now();
    for (int i = 0; i < 5; ++i) Write(*j, "COM5", 3);
    EXPECT_LT(SecondsSince(started), 2.0);
    const auto tried = Clock::now();
    const auto r = SyncOnce((dir / c.name).string(), Address(c.uri));
    EXPECT_LT(SecondsSince(tried), 6.0);
    EXPECT_EQ(r.reached, c.reached);
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
    EXPECT_EQ(r.error.find("Сервер журнала изменений "), 0u) << r.error;
    EXPECT_EQ(r.waiting, 5u);
    EXPECT_EQ(j->Query({}).size(), 5u);
  }
}

TEST_F(TeamServer, WrongPasswordAndAServerThatDemandsTls) {
  server->Sql("CREATE ROLE pmpass LOGIN PASSWORD 'right-one' IN ROLE pmservice_writer");
  const bool tls = server->EnableTls();
  server->Hba(
      "host all postgres 127.0.0.1/32 trust\n"
      "hostnossl all pmtls 127.0.0.1/32 reject\n"
      "host all pmtls 127.0.0.1/32 trust\n"
      "host all all 127.0.0.1/32 scram-sha-256\n");
  server->Sql("CREATE ROLE pmtls LOGIN IN ROLE pmservice_writer");
  auto j = Laptop("j");
  Write(*j, "COM6", 1);
  const std::string path = (dir / "j").string();
  setenv("PGPASSWORD", "wrong-one", 1);
  auto r = SyncOnce(path, Address(server->Uri(db, "pmpass")));
  EXPECT_FALSE(r.reached);
  EXPECT_NE(r.error.find("пароль пользователя pmpass не подошёл"), std::string::npos) << r.error;
  EXPECT_EQ(r.error.find("wrong-one"), std::string::npos);
  setenv("PGPASSWORD", "right-one", 1);
  EXPECT_TRUE(SyncOnce(path, Address(server->Uri(db, "pmpass"))).everything);
  unsetenv("PGPASSWORD");

  r = SyncOnce(path, Address(server->Uri(db, "pmtls") + "?sslmode=disable"));
  EXPECT_FALSE(r.reached);
  EXPECT_NE(r.error.find("только защищённые соединения (TLS)"), std::string::npos) << r.error;
  if (tls) {
    r = SyncOnce(path, Address(server->Uri(db, "pmtls") + "?sslmode=require"));
    EXPECT_TRUE(r.reached) << r.error;
  }
  server->Hba("host all all 127.0.0.1/32 trust\n");
}

TEST_F(TeamServer, TheTeamsHistoryIsFilteredAndPagedOnTheServer) {
  auto j = Laptop("j");
  for (int i = 0; i < 30; ++i) {
    Entry e = Make(i % 3 ? "COM7" : "COM8", 1 + i % 2);
    e.atMs = 1'700'000'000'000 + i * 1000;
    j->Finish(j->Begin(e), {}, {}, Outcome::Done);
  }
  ASSERT_TRUE(SyncOnce((dir / "j").string(), address).everything);
  pmjournal::TeamServer history(address);
  pmjournal::Filter f;
  f.port = "COM7";
  f.address = 2;
  const auto local = j->Query(f);
  EXPECT_EQ(history.Count(f), local.size());
  f.limit = 3;
  f.offset = 2;
  const auto page = history.Query(f);
  ASSERT_EQ(page.size(), 3u);
  for (std::size_t i = 0; i < page.size(); ++i) EXPECT_EQ(page[i].uuid, local[2 + i].uuid);
  // A listing stopped early leaves the connection usable.
  int seen = 0;
  history.ForEach({}, [&](const Entry&) { return ++seen < 4; });
  EXPECT_EQ(seen, 4);
  EXPECT_EQ(history.Count({}), 30u);
  ASSERT_TRUE(history.Get(page[0].id));
  EXPECT_EQ(history.Get(page[0].id)->uuid, page[0].uuid);
}

TEST(ServerAddress, PasswordsAreRefusedAndNeverShown) {
  const struct {
    const char* text;
    const char* shown;  // nullptr: refused
  } cases[] = {
      {"postgresql://eng@db.plant.local:5433/pmservice?sslmode=verify-full&sslrootcert=/etc/ca.crt",
       "eng@db.plant.local:5433/pmservice"},
      {"host=db user=eng dbname=pm", "eng@db/pm"},
      {"postgresql://eng:s3cret@db/pm", nullptr},
      {"postgresql://eng@db/pm?password=s3cret&sslmode=require", nullptr},
      {"host=db password=s3cret user=eng", nullptr},
      {"postgresql://eng:s3cret@db:bad-port/pm", nullptr},
  };
  for (const auto& c : cases) {
    const auto parsed = pmjournal::ParseServerAddress(c.text);
    if (c.shown) {
      ASSERT_TRUE(std::holds_alternative<ServerAddress>(parsed)) << c.text;
      EXPECT_EQ(std::get<ServerAddress>(parsed).Shown(), c.shown);
    } else {
      ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << c.text;
      EXPECT_EQ(std::get<std::string>(parsed).find("s3cret"), std::string::npos) << std::get<std::string>(parsed);
    }
  }
}

}  // namespace
