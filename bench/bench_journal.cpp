// The change journal's cost: the time a journalled write adds to the write
// (the entry begun with its before block and finished with its after block,
// each a synchronous commit), the time to open a journal of 100,000 entries
// and filter it by one instrument (what the journal window does when it
// opens), and the file's size per entry. Exits non-zero when a journalled
// write adds more than 5 ms (median) or the open and filter take 200 ms or
// more.

#include <sqlite3.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Journal.h"

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
  {
    auto journal = pmjournal::Journal::Open(big).journal;
    journal.reset();
    // Filled in one transaction: the program's own entries commit one by one.
    sqlite3* db = nullptr;
    sqlite3_open(big.c_str(), &db);
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO entries (at_ms, at, port, address, model, version, access, identification,"
                       " operation, user, host, program, before, after, outcome, step, result, detail)"
                       " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,1,'',0,'')",
                       -1, &s, nullptr);
    const std::int64_t t0 = 1'765'000'000'000;
    for (int i = 0; i < kEntries; ++i) {
      const pmjournal::Entry e = Sample(i);
      const std::string at = "2026-12-09T03:00:00+03:00", user = "engineer", host = "service-laptop";
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
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_exec(db, "COMMIT; PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
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
  fs::remove_all(dir);
  return status;
}
