// The change journal's cost: the time a journalled write adds to the write
// (the entry begun with its before block and finished with its after block,
// each a synchronous commit), the time to open a journal of 100,000 entries
// and filter it by one instrument (what the journal window does when it
// opens), and the file's size per entry. Exits non-zero when a journalled
// write adds more than 5 ms (median) or the open and filter take 200 ms or
// more.
//
// Then a journal of 1,000,000 entries against an empty one, through the real
// pmctl and the simulator on a pseudo-terminal: what `pmctl load` costs more
// from a cold cache (the journal's pages dropped from the page cache before
// each run with posix_fadvise, which needs no privilege; the machine's whole
// cache is dropped too where the bench may), how soon `pmctl journal` prints
// its first line, and the peak memory of `journal --json` and `journal
// export` over the whole journal. Printed, not asserted.

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Journal.h"
#include "Line.h"
#include "PtyServer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

pmjournal::Entry Sample(int i) {
  pmjournal::Entry e;
  e.port = "/dev/ttyUSB" + std::to_string(i % 4);
  e.address = 1 + (i / 4) % 32;
  e.model = 102;
  e.version = 6;
  e.access = 1;
  e.identification = "ЗЕТ-ТП, версия 6";
  e.operation = "Запись (F10)";
  e.program = "pmservice 0.1.0";
  e.before.assign(40, static_cast<std::uint8_t>(i));
  return e;
}

// Fills `path` (a journal just made) with `n` entries in one transaction:
// the program's own entries commit one by one.
void Fill(const std::string& path, int n) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO entries (at_ms, at, port, address, model, version, access, identification,"
                     " operation, user, host, program, before, after, outcome, step, result, detail)"
                     " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,1,'',0,?)",
                     -1, &s, nullptr);
  const std::int64_t t0 = 1'700'000'000'000;
  const std::string at = "2026-12-09T03:00:00+03:00", user = "engineer", host = "service-laptop";
  const std::string detail = "Файл: pmservice 0.1.0, 2026-12-08T16:55:00+03:00, /dev/ttyUSB0, устройство 3";
  for (int i = 0; i < n; ++i) {
    const pmjournal::Entry e = Sample(i);
    sqlite3_bind_int64(s, 1, t0 + std::int64_t{i} * 60'000);
    sqlite3_bind_text(s, 2, at.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 3, e.port.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(s, 4, e.address);
    sqlite3_bind_int(s, 5, e.model);
    sqlite3_bind_int(s, 6, e.version);
    sqlite3_bind_int(s, 7, e.access);
    sqlite3_bind_text(s, 8, e.identification.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 9, e.operation.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 10, user.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 11, host.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 12, e.program.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(s, 13, e.before.data(), 40, SQLITE_TRANSIENT);
    sqlite3_bind_blob(s, 14, e.before.data(), 40, SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 15, detail.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(s);
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  sqlite3_exec(db, "COMMIT; PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// Drops the journal's pages from the page cache; true when the machine's
// whole cache could be dropped as well.
bool Cold(const std::string& journal) {
  for (const std::string& f : {journal, journal + "-wal", journal + "-shm"}) {
    const int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
  ::sync();
  const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
  const bool all = fd >= 0 && ::write(fd, "1", 1) == 1;
  if (fd >= 0) ::close(fd);
  return all;
}

struct Run {
  double ms = 0;          // until it ended
  double firstLineMs = 0;  // until its first line of output
  long peakKb = 0;        // its peak resident size
  int code = -1;
};

// Runs pmctl with `args`; its output goes to /dev/null, or is read up to its
// first line (then the reader goes away, as `| head -1` does).
Run Pmctl(const std::vector<std::string>& args, bool firstLineOnly = false) {
  int out[2];
  if (::pipe(out) != 0) return {};
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDERR_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    std::vector<char*> argv{const_cast<char*>(PMCTL)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(PMCTL, argv.data());
    _exit(127);
  }
  ::close(out[1]);
  Run r;
  char buf[65536];
  bool seen = false;
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) {
    if (!seen && std::memchr(buf, '\n', static_cast<std::size_t>(n))) {
      seen = true;
      r.firstLineMs = Ms(Clock::now() - start);
      if (firstLineOnly) break;
    }
  }
  ::close(out[0]);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  r.ms = Ms(Clock::now() - start);
  r.peakKb = usage.ru_maxrss;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("pm_bench_journal_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  int status = 0;

  // 1. A journalled write's overhead: begin + finish.
  {
    auto journal = pmjournal::Journal::Open((dir / "writes.sqlite").string()).journal;
    std::vector<double> ms;
    const std::vector<std::uint8_t> after(40, 0x5A);
    for (int i = 0; i < 200; ++i) {
      const auto start = Clock::now();
      const auto id = journal->Begin(Sample(i));
      journal->Finish(id, after, after, pmjournal::Outcome::Done);
      ms.push_back(Ms(Clock::now() - start));
    }
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    std::printf("journalled write overhead: median %.2f ms, 95%% %.2f ms, max %.2f ms (200 writes, target <= 5 ms)\n",
                median, ms[ms.size() * 95 / 100], ms.back());
    if (median > 5.0) status = 1;
  }

  // 2. 100,000 entries: open and filter by one instrument.
  constexpr int kEntries = 100'000;
  const std::string big = (dir / "big.sqlite").string();
  pmjournal::Journal::Open(big);
  Fill(big, kEntries);
  const auto start = Clock::now();
  auto journal = pmjournal::Journal::Open(big).journal;
  const auto opened = Clock::now();
  pmjournal::Filter instrument;
  instrument.port = "/dev/ttyUSB1";
  instrument.address = 7;
  const auto shown = journal->Query(instrument);
  const auto filtered = Clock::now();
  std::printf("100,000 entries: open %.1f ms, filter by instrument %.1f ms (%zu entries), together %.1f ms (target < 200 ms)\n",
              Ms(opened - start), Ms(filtered - opened), shown.size(), Ms(filtered - start));
  if (Ms(filtered - start) >= 200.0) status = 1;
  journal.reset();
  const auto bytes = fs::file_size(big);
  std::printf("file size: %.1f MB, %.0f bytes per entry\n", static_cast<double>(bytes) / 1e6,
              static_cast<double>(bytes) / kEntries);

  // 3. 1,000,000 entries through pmctl.
  constexpr int kHuge = 1'000'000;
  const std::string huge = (dir / "huge.sqlite").string(), empty = (dir / "empty.sqlite").string();
  pmjournal::Journal::Open(huge);
  pmjournal::Journal::Open(empty);
  Fill(huge, kHuge);
  std::printf("1,000,000 entries: %.0f MB\n", static_cast<double>(fs::file_size(huge)) / 1e6);
  sim::Line line;
  line.Add({.address = 1, .model = 102, .version = 6});
  sim::PtyServer server(line);
  const std::string settings = (dir / "settings.json").string();
  Pmctl({"save", server.SlavePath(), "1", settings, "--tx-delay", "1"});
  bool wholeCache = true;
  std::vector<double> loads[2];
  for (int round = 0; round < 5; ++round)
    for (int which = 0; which < 2; ++which) {
      const std::string& journalFile = which ? huge : empty;
      wholeCache = Cold(journalFile) && wholeCache;
      const Run r = Pmctl({"load", server.SlavePath(), "1", settings, "--tx-delay", "1", "--journal", journalFile});
      loads[which].push_back(r.ms);
      // The instrument holds the file's settings already: the next load must write again.
      line.Find(1)->SetBlock([&] {
        auto b = line.Find(1)->Block();
        b[5] ^= 0x40;
        return b;
      }());
    }
  std::printf("pmctl load from a cold cache (%s), median of 5: empty journal %.1f ms, 1,000,000 entries %.1f ms, "
              "difference %.1f ms (target <= 50 ms)\n",
              wholeCache ? "page cache dropped" : "journal's pages dropped with posix_fadvise; the whole cache could not be",
              Median(loads[0]), Median(loads[1]), Median(loads[1]) - Median(loads[0]));
  Cold(huge);
  const Run first = Pmctl({"journal", "--journal", huge}, true);
  std::printf("pmctl journal, 1,000,000 entries, cold: first line after %.1f ms (target < 1000 ms)\n", first.firstLineMs);
  const Run json = Pmctl({"journal", "--json", "--journal", huge});
  std::printf("pmctl journal --json, 1,000,000 entries: %.1f s, peak %.1f MB (target < 64 MB), exit %d\n",
              json.ms / 1000, static_cast<double>(json.peakKb) / 1024, json.code);
  const Run csv = Pmctl({"journal", "export", (dir / "all.csv").string(), "--journal", huge});
  std::printf("pmctl journal export, 1,000,000 entries: %.1f s, peak %.1f MB (target < 64 MB), exit %d, %.0f MB of CSV\n",
              csv.ms / 1000, static_cast<double>(csv.peakKb) / 1024, csv.code,
              fs::exists(dir / "all.csv") ? static_cast<double>(fs::file_size(dir / "all.csv")) / 1e6 : 0.0);
  server.Stop();
  fs::remove_all(dir);
  return status;
}
