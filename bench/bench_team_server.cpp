// The team's journal server (a private PostgreSQL 15, as the tests start
// one): how long a write waits for the server with the server up, stopped
// and unreachable, in the window's way (the entry begun and finished, the
// sender thread woken) and as `pmctl load`; how fast entries go to a local
// server; and how long 10,000 entries queued offline take to catch up.

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Journal.h"
#include "Line.h"
#include "PgServer.h"
#include "PtyServer.h"
#include "TeamSync.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

pmjournal::ServerAddress Address(const std::string& uri) {
  return std::get<pmjournal::ServerAddress>(pmjournal::ParseServerAddress(uri));
}

pmjournal::Entry Make() {
  pmjournal::Entry e;
  e.port = "/dev/ttyUSB0";
  e.address = 1;
  e.model = 102;
  e.version = 6;
  e.operation = "Запись (F10)";
  e.before.assign(60, 0x11);
  return e;
}

// The window's write path while its sender runs against `server`: median
// and worst of the entry begun and finished, the sender woken each time.
std::pair<double, double> WindowWrites(const std::string& path, const std::string& server) {
  auto journal = pmjournal::Journal::Open(path).journal;
  pmjournal::SyncLoop sender(path, Address(server), [](const pmjournal::SyncReport&) {});
  std::vector<double> times;
  for (int i = 0; i < 200; ++i) {
    const auto t = Clock::now();
    const std::int64_t id = journal->Begin(Make());
    sender.Wake();
    journal->Finish(id, std::vector<std::uint8_t>(60, 0x22), std::vector<std::uint8_t>(60, 0x22),
                    pmjournal::Outcome::Done);
    sender.Wake();
    times.push_back(Ms(Clock::now() - t));
  }
  return {Median(times), *std::max_element(times.begin(), times.end())};
}

double PmctlLoad(const std::string& at, const std::string& settings, const std::string& journal,
                 const std::string& server) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    const std::string cmd = "PMSERVICE_JOURNAL_SERVER='" + server + "' " + PMCTL + " load " + at + " " + settings +
                            " --tx-delay 1 --journal " + journal + " >/dev/null 2>&1";
    const auto t = Clock::now();
    if (std::system(cmd.c_str()) != 0) std::printf("pmctl load failed\n");
    times.push_back(Ms(Clock::now() - t));
  }
  return Median(times);
}

}  // namespace

int main() {
  if (!testsupport::PgServer::Installed()) {
    std::printf("PostgreSQL 15 is not installed (Debian package postgresql): nothing measured\n");
    return 0;
  }
  testsupport::PgServer pg;
  if (!pg.Ok()) {
    std::printf("the bench's PostgreSQL did not start; see %s/log\n", pg.Root().c_str());
    return 1;
  }
  const std::string db = pg.NewDatabase();
  const std::string dir = std::filesystem::temp_directory_path() / ("pmbench-team-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string up = pg.Uri(db);
  const std::string down = "postgresql://pmwriter@127.0.0.1:" + std::to_string(testsupport::FreeLoopbackPort()) + "/x";
  // A server that takes the connection and never answers: each attempt
  // waits the whole connect time (5 s).
  const testsupport::SilentListener silent;
  const std::string unreachable = "postgresql://pmwriter@127.0.0.1:" + std::to_string(silent.Port()) + "/x";
  const std::pair<const char*, std::string> servers[] = {{"up", up}, {"down", down}, {"unreachable", unreachable}};

  // 1. The window's write path.
  int n = 0;
  for (const auto& [name, server] : servers) {
    const auto [median, worst] = WindowWrites(dir + "/window" + std::to_string(n++) + ".sqlite", server);
    std::printf("window write (entry begun and finished, sender woken), server %s: median %.2f ms, worst %.2f ms\n",
                name, median, worst);
  }

  // 2. pmctl load with the server configured: it never asks it.
  sim::Line line;
  line.Add({1, 102, 6, true}).SetWriteTime(std::chrono::milliseconds(5));
  sim::PtyServer instruments(line);
  const std::string at = instruments.SlavePath() + " 1";
  const std::string settings = dir + "/settings.json";
  std::system((std::string(PMCTL) + " save " + at + " " + settings + " --tx-delay 1 >/dev/null 2>&1").c_str());
  for (const auto& [name, server] : servers)
    std::printf("pmctl load, server %s: median of 5 %.1f ms\n", name,
                PmctlLoad(at, settings, dir + "/pmctl.sqlite", server));

  // 3. Throughput and catch-up: 10,000 entries written while the server
  // was down, then sent in one go.
  const std::string queued = dir + "/queued.sqlite";
  {
    auto journal = pmjournal::Journal::Open(queued).journal;
    for (int i = 0; i < 10000; ++i)
      journal->Finish(journal->Begin(Make()), std::vector<std::uint8_t>(60, 0x22), {}, pmjournal::Outcome::Done);
  }
  const auto t = Clock::now();
  const pmjournal::SyncReport r = pmjournal::SyncOnce(queued, Address(up));
  const double s = Ms(Clock::now() - t) / 1000;
  std::printf("catch-up of 10,000 entries queued offline: %.2f s (%.0f entries/s to a local server), %zu sent, "
              "%zu left%s%s\n",
              s, r.sent / s, r.sent, r.waiting, r.error.empty() ? "" : ": ", r.error.c_str());
  std::filesystem::remove_all(dir);
  return r.everything ? 0 : 1;
}
