#include "Journal.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "Database.h"
#include "FileAccess.h"

namespace pmjournal {

namespace {

// How long a writer waits for another process's transaction to end.
constexpr int kBusyTimeoutMs = 5000;

// The schema, one step per version: a file at version N gets steps N+1...
const char* const kSteps[kSchemaVersion] = {
    // 1: the entries.
    "CREATE TABLE entries ("
    " id INTEGER PRIMARY KEY,"
    " at_ms INTEGER NOT NULL, at TEXT NOT NULL,"
    " port TEXT NOT NULL, address INTEGER NOT NULL, model INTEGER NOT NULL, version INTEGER NOT NULL,"
    " access INTEGER NOT NULL,"
    " identification TEXT NOT NULL, operation TEXT NOT NULL,"
    " user TEXT NOT NULL, host TEXT NOT NULL, program TEXT NOT NULL,"
    " before BLOB NOT NULL, after BLOB NOT NULL,"
    " outcome INTEGER NOT NULL, step TEXT NOT NULL, result INTEGER NOT NULL, detail TEXT NOT NULL)",
    // 2: the window's filters: by instrument and by time.
    "CREATE INDEX entries_instrument ON entries(port, address, at_ms);"
    "CREATE INDEX entries_time ON entries(at_ms)",
};

const char* kColumns =
    "id, at_ms, at, port, address, model, version, access, identification, operation, user, host, program,"
    " before, after, outcome, step, result, detail";

std::string Cause(const DatabaseError& e) {
  switch (e.Code() & 0xFF) {
    case SQLITE_FULL: return pmset::FileErrorCause(ENOSPC);
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return "журнал занят другой программой дольше " + std::to_string(kBusyTimeoutMs / 1000) + " с";
    case SQLITE_READONLY: return pmset::FileErrorCause(e.SystemErrno() ? e.SystemErrno() : EACCES);
    default: break;
  }
  if (e.SystemErrno() != 0) return pmset::FileErrorCause(e.SystemErrno());
  return e.what();
}

[[noreturn]] void Throw(const std::string& path, const std::string& doing, const DatabaseError& e) {
  throw JournalError("Журнал изменений " + path + ": " + doing + ": " + Cause(e));
}

bool Damaged(const DatabaseError& e) {
  const int primary = e.Code() & 0xFF;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

int UserVersion(Database& db) {
  Statement s(db, "PRAGMA user_version");
  s.Step();
  return static_cast<int>(s.Int(0));
}

bool IntegrityOk(Database& db) {
  Statement s(db, "PRAGMA quick_check");
  return s.Step() && s.Text(0) == "ok";
}

// The first free name beside the file: journal.sqlite.damaged-20261209-030000[-N].
std::string AsideName(const std::string& path) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::string name = path + ".damaged-" + stamp;
  for (int n = 2; std::filesystem::exists(name) && n < 1000; ++n)
    name = path + ".damaged-" + stamp + "-" + std::to_string(n);
  return name;
}

// Moves the damaged file (and its write-ahead log) aside; returns the new name.
std::string MoveAside(const std::string& path) {
  const std::string aside = AsideName(path);
  if (std::rename(path.c_str(), aside.c_str()) != 0)
    throw JournalError("Журнал изменений " + path + " повреждён и не может быть отложен: " +
                       pmset::FileErrorCause(errno));
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::string from = path + suffix;
    if (std::filesystem::exists(from)) std::rename(from.c_str(), (aside + suffix).c_str());
  }
  return aside;
}

void MakeFolders(const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) return;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec)
    throw JournalError("Журнал изменений " + path + ": не удалось создать папку " + folder.string() + ": " +
                       pmset::FileErrorCause(ec.value()));
}

Entry EntryOf(const Statement& s) {
  Entry e;
  e.id = s.Int(0);
  e.atMs = s.Int(1);
  e.at = s.Text(2);
  e.port = s.Text(3);
  e.address = static_cast<int>(s.Int(4));
  e.model = static_cast<int>(s.Int(5));
  e.version = static_cast<int>(s.Int(6));
  e.access = static_cast<int>(s.Int(7));
  e.identification = s.Text(8);
  e.operation = s.Text(9);
  e.user = s.Text(10);
  e.host = s.Text(11);
  e.program = s.Text(12);
  e.before = s.Blob(13);
  e.after = s.Blob(14);
  e.outcome = static_cast<Outcome>(s.Int(15));
  e.step = s.Text(16);
  e.result = static_cast<int>(s.Int(17));
  e.detail = s.Text(18);
  return e;
}

}  // namespace

std::string OutcomeText(Outcome o) {
  switch (o) {
    case Outcome::Pending: return "не завершено";
    case Outcome::Done: return "выполнено";
    case Outcome::Failed: return "ошибка";
    case Outcome::Refused: return "отказ";
    case Outcome::Event: return "событие";
  }
  return "?";
}

std::string DefaultPath() {
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string folder;
  if (data && *data == '/') {
    folder = data;
  } else {
    const char* home = std::getenv("HOME");
    if ((!home || !*home))
      if (const passwd* pw = getpwuid(getuid())) home = pw->pw_dir;
    folder = std::string(home ? home : ".") + "/.local/share";
  }
  return folder + "/pmservice/journal.sqlite";
}

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string LocalTimeText(std::int64_t atMs) {
  const std::time_t t = static_cast<std::time_t>(atMs / 1000);
  std::tm local{};
  localtime_r(&t, &local);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string text = buf;
  if (text.size() > 2) text.insert(text.size() - 2, ":");  // +0300 -> +03:00
  return text;
}

std::string UserName() {
  if (const passwd* pw = getpwuid(geteuid())) return pw->pw_name;
  const char* user = std::getenv("USER");
  return user ? user : std::to_string(geteuid());
}

std::string UserFullName() {
  if (const passwd* pw = getpwuid(geteuid())) {
    std::string gecos = pw->pw_gecos ? pw->pw_gecos : "";
    gecos = gecos.substr(0, gecos.find(','));
    if (!gecos.empty()) return gecos;
  }
  return UserName();
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

Journal::Journal(std::string path, std::unique_ptr<Database> db) : m_path(std::move(path)), m_db(std::move(db)) {}
Journal::~Journal() = default;

Journal::Opened Journal::Open(const std::string& path) {
  MakeFolders(path);
  Opened opened;
  std::unique_ptr<Database> db;
  for (int attempt = 0;; ++attempt) {
    try {
      db = std::make_unique<Database>(path, true);
      sqlite3_busy_timeout(db->Handle(), kBusyTimeoutMs);
      const int version = UserVersion(*db);
      if (version > kSchemaVersion)
        throw JournalError("Журнал изменений " + path + " создан более новой версией программы (схема " +
                           std::to_string(version) + ", эта программа знает схему " +
                           std::to_string(kSchemaVersion) + ").\nЖурнал не изменён.");
      if (!IntegrityOk(*db)) throw DatabaseError(SQLITE_CORRUPT, 0, "quick_check");
      db->Execute("PRAGMA journal_mode=WAL");
      // FULL: in WAL mode each commit is synced to the disk before it returns.
      db->Execute("PRAGMA synchronous=FULL");
      if (version < kSchemaVersion) {
        // Another process may be bringing it forward at the same moment: the
        // version is read again under the write lock.
        db->Execute("BEGIN IMMEDIATE");
        try {
          for (int step = UserVersion(*db); step < kSchemaVersion; ++step) db->Execute(kSteps[step]);
          db->Execute("PRAGMA user_version=" + std::to_string(kSchemaVersion));
          db->Execute("COMMIT");
        } catch (...) {
          sqlite3_exec(db->Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
          throw;
        }
      }
      break;
    } catch (const DatabaseError& e) {
      db.reset();
      if (!Damaged(e) || attempt > 0) Throw(path, "не открывается", e);
      const std::string aside = MoveAside(path);
      opened.notice = "Журнал изменений " + path + " повреждён и отложен как " + aside + ".\nНачат новый журнал.";
    }
  }
  opened.journal.reset(new Journal(path, std::move(db)));
  return opened;
}

std::int64_t Journal::Insert(Entry& entry) {
  if (entry.atMs == 0) entry.atMs = NowMs();
  if (entry.at.empty()) entry.at = LocalTimeText(entry.atMs);
  if (entry.user.empty()) entry.user = UserName();
  if (entry.host.empty()) entry.host = HostName();
  try {
    Statement s(*m_db,
                "INSERT INTO entries (at_ms, at, port, address, model, version, access, identification, operation,"
                " user, host, program, before, after, outcome, step, result, detail)"
                " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    s.Bind(1, entry.atMs);
    s.Bind(2, entry.at);
    s.Bind(3, entry.port);
    s.Bind(4, std::int64_t{entry.address});
    s.Bind(5, std::int64_t{entry.model});
    s.Bind(6, std::int64_t{entry.version});
    s.Bind(7, std::int64_t{entry.access});
    s.Bind(8, entry.identification);
    s.Bind(9, entry.operation);
    s.Bind(10, entry.user);
    s.Bind(11, entry.host);
    s.Bind(12, entry.program);
    s.Bind(13, std::span<const std::uint8_t>(entry.before));
    s.Bind(14, std::span<const std::uint8_t>(entry.after));
    s.Bind(15, std::int64_t{static_cast<int>(entry.outcome)});
    s.Bind(16, entry.step);
    s.Bind(17, std::int64_t{entry.result});
    s.Bind(18, entry.detail);
    s.Step();
  } catch (const DatabaseError& e) {
    Throw(m_path, "запись не сохранена", e);
  }
  entry.id = sqlite3_last_insert_rowid(m_db->Handle());
  return entry.id;
}

std::int64_t Journal::Begin(Entry entry) {
  entry.outcome = Outcome::Pending;
  return Insert(entry);
}

std::int64_t Journal::Record(Entry entry) { return Insert(entry); }

void Journal::Finish(std::int64_t id, const std::vector<std::uint8_t>& after, Outcome outcome,
                     const std::string& step, int result, const std::string& detail) {
  try {
    Statement s(*m_db,
                "UPDATE entries SET after = ?, outcome = ?, step = ?, result = ?,"
                " detail = CASE WHEN ? = '' THEN detail WHEN detail = '' THEN ? ELSE detail || '; ' || ? END"
                " WHERE id = ?");
    s.Bind(1, std::span<const std::uint8_t>(after));
    s.Bind(2, std::int64_t{static_cast<int>(outcome)});
    s.Bind(3, step);
    s.Bind(4, std::int64_t{result});
    s.Bind(5, detail);
    s.Bind(6, detail);
    s.Bind(7, detail);
    s.Bind(8, id);
    s.Step();
  } catch (const DatabaseError& e) {
    Throw(m_path, "запись не завершена", e);
  }
}

std::vector<Entry> Journal::Query(const Filter& f) const {
  std::string sql = std::string("SELECT ") + kColumns + " FROM entries WHERE 1";
  if (f.port) sql += " AND port = ?";
  if (f.address) sql += " AND address = ?";
  if (f.model) sql += " AND model = ?";
  if (f.sinceMs) sql += " AND at_ms >= ?";
  if (f.untilMs) sql += " AND at_ms < ?";
  if (f.operation) sql += " AND operation = ?";
  sql += " ORDER BY at_ms DESC, id DESC";
  if (f.limit) sql += " LIMIT " + std::to_string(f.limit);
  std::vector<Entry> out;
  try {
    Statement s(*m_db, sql);
    int n = 1;
    if (f.port) s.Bind(n++, *f.port);
    if (f.address) s.Bind(n++, std::int64_t{*f.address});
    if (f.model) s.Bind(n++, std::int64_t{*f.model});
    if (f.sinceMs) s.Bind(n++, *f.sinceMs);
    if (f.untilMs) s.Bind(n++, *f.untilMs);
    if (f.operation) s.Bind(n++, *f.operation);
    while (s.Step()) out.push_back(EntryOf(s));
  } catch (const DatabaseError& e) {
    Throw(m_path, "не читается", e);
  }
  return out;
}

std::optional<Entry> Journal::Get(std::int64_t id) const {
  try {
    Statement s(*m_db, std::string("SELECT ") + kColumns + " FROM entries WHERE id = ?");
    s.Bind(1, id);
    if (s.Step()) return EntryOf(s);
  } catch (const DatabaseError& e) {
    Throw(m_path, "не читается", e);
  }
  return std::nullopt;
}

}  // namespace pmjournal
