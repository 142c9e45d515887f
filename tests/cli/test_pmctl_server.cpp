// pmctl and the team's journal server (a PostgreSQL 15 of the test's own):
// load never waits for the server, journal sync says by its exit code
// whether the server was reached and everything went, journal --server
// lists the team's history, and a password never gets onto a command line.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "Journal.h"
#include "Line.h"
#include "PgServer.h"
#include "PtyServer.h"

namespace {

struct Ran {
  int code = -1;
  std::string output;  // standard output and error
  double seconds = 0;
};

Ran Pmctl(const std::string& args, const std::string& env = "") {
  const std::string cmd = "{ " + env + " exec " + PMCTL + " " + args + "; } 2>&1";
  const auto started = std::chrono::steady_clock::now();
  Ran r;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.output.append(buf, n);
  const int status = pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return r;
}

TEST(PmctlServer, LoadSyncAndTheTeamsHistory) {
  if (!testsupport::PgServer::Installed()) GTEST_SKIP() << "PostgreSQL 15 is not installed (Debian package postgresql)";
  testsupport::PgServer pg;
  ASSERT_TRUE(pg.Ok()) << pg.Root() << "/log";
  const std::string db = pg.NewDatabase();
  ASSERT_EQ(pg.SchemaError(), "");
  pg.Sql("CREATE ROLE pmreader LOGIN");
  pg.Sql("GRANT USAGE ON SCHEMA pmservice TO pmreader; GRANT SELECT ON pmservice.schema_version TO pmreader", db);
  const std::string journal = testing::TempDir() + "pmctl-server-" + std::to_string(getpid()) + ".sqlite";
  std::filesystem::remove(journal);
  const std::string up = pg.Uri(db);
  const std::string refused = "postgresql://u@127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort()) + "/x";

  // A write: the configured server is never asked, up or not.
  sim::Line line;
  line.Add({1, 102, 6, true}).SetWriteTime(std::chrono::milliseconds(5));
  sim::PtyServer instruments(line);
  const std::string settings = testing::TempDir() + "pmctl-server.json";
  const std::string at = instruments.SlavePath() + " 1";
  ASSERT_EQ(Pmctl("save " + at + " " + settings + " --tx-delay 1").code, 0);
  for (const std::string& server : {refused, std::string("postgresql://u@pmservice-no-such-host.invalid/x")}) {
    // A setting that differs from the file's, so that load writes.
    sim::Bytes b = line.Find(1)->Block();
    b[5] ^= 0x40;
    line.Find(1)->SetBlock(b);
    const Ran load = Pmctl("load " + at + " " + settings + " --tx-delay 1 --journal " + journal,
                           "PMSERVICE_JOURNAL_SERVER='" + server + "'");
    EXPECT_EQ(load.code, 0) << load.output;
    EXPECT_LT(load.seconds, 3.0);
  }

  const struct {
    const char* name;
    std::string args, env;
    int code;
    std::string text;
  } cases[] = {
      {"no server configured", "journal sync", "", 1, "Сервер журнала изменений не задан"},
      {"a password on the command line", "journal sync --journal-server postgresql://u:s3cret@h/db", "", 1,
       "содержит пароль"},
      {"refused", "journal sync --journal-server " + refused, "", 10, "соединение отвергнуто"},
      {"reached, sending refused", "journal sync --journal-server " + pg.Uri(db, "pmreader"), "", 11,
       "нет прав на журнал"},
      {"from the environment", "journal sync", "PMSERVICE_JOURNAL_SERVER='" + up + "'", 0,
       "Отправлено на сервер журнала изменений: 2; ждут отправки: 0"},
      {"nothing left", "journal sync --journal-server " + up, "PMSERVICE_JOURNAL_SERVER='" + refused + "'", 0,
       "Отправлено на сервер журнала изменений: 0; ждут отправки: 0"},
      {"the team's history", "journal --server --journal-server " + up, "", 0, "Загрузка настроек из файла"},
      {"the team's history, refused", "journal --server --journal-server " + refused, "", 10, "соединение отвергнуто"},
  };
  for (const auto& c : cases) {
    const Ran r = Pmctl(c.args + " --journal " + journal, c.env);
    EXPECT_EQ(r.code, c.code) << c.name << ": " << r.output;
    EXPECT_NE(r.output.find(c.text), std::string::npos) << c.name << ": " << r.output;
    EXPECT_EQ(r.output.find("s3cret"), std::string::npos) << r.output;
  }
  // The server's listing is the local one (the numbers aside).
  const Ran local = Pmctl("journal --journal " + journal);
  const Ran team = Pmctl("journal --server --journal-server " + up);
  const auto numbersAside = [](const std::string& text) {
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find('\n', at);
      out += text.substr(text.find('\t', at), end - text.find('\t', at)) + "\n";
      at = end + 1;
    }
    return out;
  };
  EXPECT_EQ(std::count(local.output.begin(), local.output.end(), '\n'), 2);
  EXPECT_EQ(numbersAside(team.output), numbersAside(local.output));
  std::filesystem::remove(journal);
}

}  // namespace
