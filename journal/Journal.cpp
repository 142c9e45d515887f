#include "Journal.h"

#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <utility>

#include "CheckTables.h"
#include "Database.h"
#include "FileAccess.h"
#include "JournalFile.h"

namespace pmjournal {

struct Journal::Connection {
  std::unique_ptr<JournalFile> file;
  std::unique_ptr<Database> db;
  std::string notice;
  int version = kSchemaVersion;  // the file's schema
};

namespace {

// How long a program waits for another's transaction or lock to end.
constexpr int kBusyTimeoutMs = 5000;
// The lock around moving a damaged file aside waits longer: the full check
// of a large file takes its time.
constexpr int kCheckWaitMs = 30000;

// The entries' columns, each with the schema version that added it; the
// steps that bring a file forward, the check of a file's tables and every
// statement are made from this one list.
struct Column {
  const char* name;
  const char* type;
  int since;
  // What the rows a file already holds get when the column is added; its
  // type's empty value when none.
  const char* fill = nullptr;
};
// A random UUID (RFC 4122, version 4), made per row by SQLite.
constexpr const char* kRandomUuid =
    "lower(hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-4' || substr(hex(randomblob(2)), 2) || '-' ||"
    " substr('89ab', 1 + abs(random() % 4), 1) || substr(hex(randomblob(2)), 2) || '-' || hex(randomblob(6)))";
constexpr Column kEntryColumns[] = {
    {"id", "INTEGER", 1},           {"at_ms", "INTEGER", 1},    {"at", "TEXT", 1},
    {"port", "TEXT", 1},            {"address", "INTEGER", 1},  {"model", "INTEGER", 1},
    {"version", "INTEGER", 1},      {"access", "INTEGER", 1},   {"identification", "TEXT", 1},
    {"operation", "TEXT", 1},       {"user", "TEXT", 1},        {"host", "TEXT", 1},
    {"program", "TEXT", 1},         {"before", "BLOB", 1},      {"after", "BLOB", 1},
    {"outcome", "INTEGER", 1},      {"step", "TEXT", 1},        {"result", "INTEGER", 1},
    {"detail", "TEXT", 1},          {"sent", "BLOB", 3},        {"before_read_ms", "INTEGER", 3},
    // The entry's identity on the team server, and whether the server holds
    // it as it stands (0: waiting to be sent; finishing an entry sets it back).
    {"uuid", "TEXT", 5, kRandomUuid}, {"shared", "INTEGER", 5},
};
// The version that added a column.
constexpr int Since(std::string_view name) {
  for (const Column& c : kEntryColumns)
    if (name == c.name) return c.since;
  return 0;
}
// Files from this version on mark what the team server holds.
constexpr int kSharedSince = Since("shared");
static_assert(kSharedSince > 0 && kSharedSince == Since("uuid"));

// The indexes, each with the version that added it.
struct Index {
  const char* name;
  const char* columns;
  int since;
  const char* where = nullptr;  // a partial index: only these rows
};
constexpr Index kIndexes[] = {
    {"entries_instrument", "port, address, at_ms", 2},
    {"entries_time", "at_ms", 2},
    {"entries_waiting", "id", kSharedSince, "shared = 0"},
};

// The value a column holds in an entry written before the column was added.
std::string EmptyValue(const Column& c) {
  const std::string type = c.type;
  return type == "BLOB" ? "x''" : type == "TEXT" ? "''" : "0";
}

// The columns in their order; those a file of an earlier version lacks
// (one opened to read, never brought forward) as their empty values.
std::string ColumnList(int version = kSchemaVersion) {
  std::string list;
  for (const Column& c : kEntryColumns) {
    if (!list.empty()) list += ", ";
    if (c.since <= version) list += c.name;
    else list += EmptyValue(c) + " AS " + c.name;
  }
  return list;
}

// The statements that bring a file at version `version` - 1 to `version`.
std::string Step(int version) {
  std::string sql;
  if (version == 1) {
    sql = "CREATE TABLE entries (id INTEGER PRIMARY KEY";
    for (const Column& c : kEntryColumns)
      if (c.since == 1 && std::string(c.name) != "id") sql += std::string(", ") + c.name + " " + c.type + " NOT NULL";
    sql += ");";
  } else {
    for (const Column& c : kEntryColumns)
      if (c.since == version) {
        sql += std::string("ALTER TABLE entries ADD COLUMN ") + c.name + " " + c.type + " NOT NULL DEFAULT " +
               EmptyValue(c) + ";";
        if (c.fill) sql += std::string("UPDATE entries SET ") + c.name + " = " + c.fill + ";";
      }
  }
  for (const Index& i : kIndexes)
    if (i.since == version)
      sql += std::string("CREATE INDEX ") + i.name + " ON entries(" + i.columns + ")" +
             (i.where ? std::string(" WHERE ") + i.where : std::string()) + ";";
  for (const Table& t : kCheckTables) {
    if (t.since != version) continue;
    sql += std::string("CREATE TABLE ") + t.name + " (id INTEGER PRIMARY KEY";
    for (const TableColumn& c : t.columns.subspan(1)) sql += std::string(", ") + c.name + " " + c.type;
    sql += std::string(");CREATE INDEX ") + t.name + "_index ON " + t.name + "(" + t.index + ");";
  }
  return sql;
}

std::string Cause(const DatabaseError& e) {
  switch (e.Code() & 0xFF) {
    case SQLITE_FULL: return pmset::FileErrorCause(ENOSPC);
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return "журнал занят другой программой дольше " + std::to_string(kBusyTimeoutMs / 1000) + " с";
    case SQLITE_READONLY: return pmset::FileErrorCause(e.SystemErrno() ? e.SystemErrno() : EACCES);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return "файл повреждён";
    case SQLITE_CANTOPEN: return pmset::FileErrorCause(e.SystemErrno() ? e.SystemErrno() : EACCES);
    default: break;
  }
  if (e.SystemErrno() != 0) return pmset::FileErrorCause(e.SystemErrno());
  if ((e.Code() & 0xFF) == SQLITE_IOERR) return pmset::FileErrorCause(EIO);
  // SQLite's own words are English: the code says enough to look it up.
  return "ошибка базы данных (код SQLite " + std::to_string(e.Code()) + ")";
}

[[noreturn]] void Throw(const std::string& path, const std::string& doing, const DatabaseError& e) {
  throw JournalError("Журнал изменений " + path + ": " + doing + ": " + Cause(e));
}

[[noreturn]] void Busy(const std::string& path) {
  throw JournalError("Журнал изменений " + path + ": журнал занят другой программой дольше " +
                     std::to_string(kBusyTimeoutMs / 1000) + " с");
}

[[noreturn]] void NotOurs(const std::string& path) {
  throw JournalError("Журнал изменений " + path +
                     ": файл не является журналом изменений этой программы.\nФайл не изменён; выберите другой файл "
                     "журнала.");
}

[[noreturn]] void Newer(const std::string& path, int version) {
  throw JournalError("Журнал изменений " + path + " создан более новой версией программы (схема " +
                     std::to_string(version) + ", эта программа знает схему " + std::to_string(kSchemaVersion) +
                     ").\nЖурнал не изменён.");
}

bool Damaged(const DatabaseError& e) {
  const int primary = e.Code() & 0xFF;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

std::int64_t PragmaInt(Database& db, const char* pragma) {
  Statement s(db, std::string("PRAGMA ") + pragma);
  return s.Step() ? s.Int(0) : 0;
}

// The version of an opened file, its mark and its tables checked: refuses a
// file that is not our journal or is newer.
int CheckedVersion(const std::string& path, Database& db) {
  const auto id = static_cast<std::uint32_t>(PragmaInt(db, "application_id"));
  const std::int64_t version = PragmaInt(db, "user_version");
  if (id != kApplicationId && id != 0) NotOurs(path);
  if (id == kApplicationId && version > kSchemaVersion) Newer(path, static_cast<int>(version));
  if (version < 1 || version > kSchemaVersion) NotOurs(path);
  // Exactly our tables and indexes of that version; SQLite's own are allowed.
  std::map<std::string, std::string> expected = {{"entries", "table"}};
  for (const Index& i : kIndexes)
    if (i.since <= version) expected[i.name] = "index";
  for (const Table& t : kCheckTables) {
    if (t.since > version) continue;
    expected[t.name] = "table";
    expected[std::string(t.name) + "_index"] = "index";
  }
  std::size_t found = 0;
  Statement objects(db, "SELECT type, name FROM sqlite_schema");
  while (objects.Step()) {
    const std::string name = objects.Text(1);
    if (name.rfind("sqlite_", 0) == 0) continue;
    const auto it = expected.find(name);
    if (it == expected.end() || it->second != objects.Text(0)) NotOurs(path);
    ++found;
  }
  if (found != expected.size()) NotOurs(path);
  std::vector<std::pair<std::string, std::string>> columns;
  for (const Column& c : kEntryColumns)
    if (c.since <= version) columns.emplace_back(c.name, c.type);
  std::size_t at = 0;
  Statement info(db, "PRAGMA table_info(entries)");
  while (info.Step()) {
    if (at >= columns.size() || info.Text(1) != columns[at].first || info.Text(2) != columns[at].second)
      NotOurs(path);
    ++at;
  }
  if (at != columns.size()) NotOurs(path);
  for (const Table& t : kCheckTables) {
    if (t.since > version) continue;
    std::size_t n = 0;
    Statement table(db, std::string("PRAGMA table_info(") + t.name + ")");
    while (table.Step()) {
      if (n >= t.columns.size() || table.Text(1) != t.columns[n].name || table.Text(2) != t.columns[n].type)
        NotOurs(path);
      ++n;
    }
    if (n != t.columns.size()) NotOurs(path);
  }
  return static_cast<int>(version);
}

// Brings the file forward to this program's schema and marks it as ours,
// under the exclusive lock. Another program of an earlier version may be
// using it: the version is read again under SQLite's write lock.
void BringForward(const std::string& path, bool created) {
  Database db(path, Database::Mode::ReadWrite);
  sqlite3_busy_timeout(db.Handle(), kBusyTimeoutMs);
  if (created) {
    // Only a file nobody else uses yet can change its journal mode; the
    // exclusive lock makes sure of that.
    db.Execute("PRAGMA journal_mode=WAL");
  }
  db.Execute("BEGIN IMMEDIATE");
  try {
    int version = static_cast<int>(PragmaInt(db, "user_version"));
    if (!created) version = CheckedVersion(path, db);
    for (int step = version + 1; step <= kSchemaVersion; ++step) db.Execute(Step(step));
    db.Execute("PRAGMA application_id=" + std::to_string(kApplicationId));
    db.Execute("PRAGMA user_version=" + std::to_string(kSchemaVersion));
    db.Execute("COMMIT");
  } catch (...) {
    sqlite3_exec(db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
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

// Whether the file fails SQLite's full check.
bool FailsCheck(const std::string& path) {
  try {
    Database db(path, Database::Mode::ReadOnly);
    sqlite3_busy_timeout(db.Handle(), kBusyTimeoutMs);
    Statement s(db, "PRAGMA quick_check");
    return !(s.Step() && s.Text(0) == "ok");
  } catch (const DatabaseError& e) {
    if (Damaged(e)) return true;
    throw;
  }
}

// SQLite reported damage in `file`, the file at `path` when it was opened.
// Moves it aside, with its write-ahead log, if it still is the file at the
// path and fails the full check; returns the operator's notice then, "" when
// another program had moved it already. Throws when it is not damaged.
std::string MoveAsideIfDamaged(const std::string& path, JournalFile& file, const DatabaseError& reported) {
  if (!file.Exclusive(kCheckWaitMs)) Busy(path);
  if (!file.StillAt(path)) return {};
  bool damaged = false;
  try {
    damaged = FailsCheck(path);
  } catch (const DatabaseError& e) {
    Throw(path, "не открывается", e);
  }
  if (!damaged) Throw(path, "не открывается", reported);
  const std::string aside = AsideName(path);
  if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) != 0)
    throw JournalError("Журнал изменений " + path + " повреждён и не может быть отложен: " +
                       pmset::FileErrorCause(errno));
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::string from = path + suffix;
    std::error_code ec;
    if (std::filesystem::is_regular_file(from, ec))
      ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, (aside + suffix).c_str(), RENAME_NOREPLACE);
  }
  return "Журнал изменений " + path + " повреждён и отложен как " + aside + ".\nНачат новый журнал.";
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

bool MayWriteBeside(const std::string& path, const JournalFile& file) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  return file.Writable() && ::access(folder.empty() ? "." : folder.c_str(), W_OK) == 0;
}

// A read-only connection; on a file this program may not write, or in a
// folder it may not write, one that makes no files beside the journal
// when it has no write-ahead log.
std::unique_ptr<Database> Inspector(const std::string& path, const JournalFile& file) {
  std::error_code ec;
  const bool log = std::filesystem::exists(path + "-wal", ec);
  return std::make_unique<Database>(
      path, MayWriteBeside(path, file) || log ? Database::Mode::ReadOnly : Database::Mode::Immutable);
}

// A connection to read: one that cleans up after itself when the file and
// its folder may be written, else an inspector.
std::unique_ptr<Database> ReaderOf(const std::string& path, const JournalFile& file) {
  if (!MayWriteBeside(path, file)) return Inspector(path, file);
  auto db = std::make_unique<Database>(path, Database::Mode::ReadWrite);
  db->Execute("PRAGMA query_only=1");
  return db;
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
  e.sent = s.Blob(19);
  e.beforeReadMs = s.Int(20);
  e.uuid = s.Text(21);
  e.shared = s.Int(22) != 0;
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

std::string ConfiguredPath(const std::string& chosen) {
  if (!chosen.empty()) return chosen;
  const char* env = std::getenv("PMSERVICE_JOURNAL");
  if (env && *env) return env;
  return DefaultPath();
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

std::string NewUuid() {
  std::array<std::uint8_t, 16> b{};
  std::size_t got = 0;
  while (got < b.size()) {
    const ssize_t n = ::getrandom(b.data() + got, b.size() - got, 0);
    if (n > 0) got += static_cast<std::size_t>(n);
    else if (errno != EINTR) throw JournalError("Журнал изменений: нет случайных чисел для записи");
  }
  b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

namespace {

// An entry's row, all columns but the id.
std::string InsertSql() {
  std::string columns = ColumnList();
  columns = columns.substr(columns.find(',') + 2);
  std::string marks;
  for (std::size_t i = 1; i < std::size(kEntryColumns); ++i) marks += i > 1 ? ",?" : "?";
  return "INSERT INTO entries (" + columns + ") VALUES (" + marks + ")";
}

void BindEntry(Statement& s, const Entry& entry) {
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
  s.Bind(19, std::span<const std::uint8_t>(entry.sent));
  s.Bind(20, entry.beforeReadMs);
  s.Bind(21, entry.uuid);
  s.Bind(22, std::int64_t{entry.shared ? 1 : 0});
}

}  // namespace

Journal::Journal(std::string path, Mode mode, Connection connection)
    : m_path(std::move(path)),
      m_mode(mode),
      m_file(std::move(connection.file)),
      m_db(std::move(connection.db)),
      m_version(connection.version),
      m_notice(std::move(connection.notice)) {}

Journal::~Journal() {
  m_db.reset();  // before our descriptor of the file
  m_file.reset();
}

// The live file at `path`, checked and ready.
Journal::Connection Journal::Connect(const std::string& path, Mode mode) {
  const bool write = mode == Journal::Mode::Write;
  if (write) MakeFolders(path);
  std::string notice;
  for (int round = 0; round < 20; ++round) {
    auto file = std::make_unique<JournalFile>(path, write);
    if (write && !file->Writable()) {
      throw JournalError("Журнал изменений " + path + ": " + pmset::FileErrorCause(EACCES) +
                         " на запись.\nФайл не изменён.");
    }
    if (!file->Shared(kBusyTimeoutMs)) Busy(path);
    if (!file->StillAt(path)) continue;  // moved aside meanwhile: open the new one
    const Header header = file->ReadHeader();
    switch (header.kind) {
      case FileKind::Foreign:
      case FileKind::OtherApp: NotOurs(path);
      case FileKind::Ours:
        if (header.userVersion > kSchemaVersion) Newer(path, header.userVersion);
        if (header.userVersion < 1) NotOurs(path);
        break;
      case FileKind::Unmarked:
        if (header.userVersion < 1 || header.userVersion > kSchemaVersion) NotOurs(path);
        break;
      case FileKind::Empty:
        if (!write) return {std::move(file), nullptr, notice};  // nothing recorded yet
        if (!file->Exclusive(kBusyTimeoutMs)) Busy(path);
        try {
          if (file->StillAt(path) && file->Size() == 0) BringForward(path, true);
        } catch (const DatabaseError& e) {
          Throw(path, "не создаётся", e);
        }
        continue;
    }
    try {
      int version = 0;
      {
        // Checked without writing anything: a file refused stays untouched.
        const auto check = Inspector(path, *file);
        sqlite3_busy_timeout(check->Handle(), kBusyTimeoutMs);
        version = CheckedVersion(path, *check);
      }
      if (!write) {
        auto db = ReaderOf(path, *file);
        sqlite3_busy_timeout(db->Handle(), kBusyTimeoutMs);
        file->Unlock();
        return {std::move(file), std::move(db), notice, version};
      }
      if (version < kSchemaVersion || header.kind == FileKind::Unmarked) {
        if (!file->Exclusive(kBusyTimeoutMs)) Busy(path);
        if (file->StillAt(path)) BringForward(path, false);
        continue;
      }
      auto db = std::make_unique<Database>(path, Database::Mode::ReadWrite);
      sqlite3_busy_timeout(db->Handle(), kBusyTimeoutMs);
      // FULL: in WAL mode each commit is synced to the disk before it returns.
      db->Execute("PRAGMA synchronous=FULL");
      file->Unlock();
      return {std::move(file), std::move(db), notice, version};
    } catch (const DatabaseError& e) {
      if (!Damaged(e)) Throw(path, "не открывается", e);
      if (!write) Throw(path, "не читается", e);
      const std::string moved = MoveAsideIfDamaged(path, *file, e);
      if (!moved.empty()) notice = moved;
    }
  }
  Busy(path);
}

Journal::Opened Journal::Open(const std::string& path, Mode mode) {
  Connection connection = Connect(path, mode);
  Opened opened;
  opened.notice = connection.notice;
  connection.notice.clear();
  opened.journal.reset(new Journal(path, mode, std::move(connection)));
  return opened;
}

std::string Journal::TakeNotice() { return std::exchange(m_notice, std::string()); }

void Journal::Reconnect() const {
  m_db.reset();
  m_file.reset();
  Connection connection = Connect(m_path, m_mode);
  m_file = std::move(connection.file);
  m_db = std::move(connection.db);
  m_version = connection.version;
  if (!connection.notice.empty()) m_notice = connection.notice;
}

void Journal::Use(const char* doing, const std::function<void(Database&)>& op) const {
  for (int attempt = 0;; ++attempt) {
    bool moved = false;
    try {
      if (!m_file || !m_db) {
        if (m_mode == Mode::Read) return;  // an empty file: nothing recorded
        Reconnect();
        continue;
      }
      SharedHold hold(*m_file, kBusyTimeoutMs);
      if (!hold.Held()) Busy(m_path);
      if (m_file->StillAt(m_path)) {
        op(*m_db);
        return;
      }
      moved = true;
    } catch (const DatabaseError& e) {
      if (!Damaged(e) || attempt > 2 || m_mode == Mode::Read) Throw(m_path, doing, e);
      const std::string notice = MoveAsideIfDamaged(m_path, *m_file, e);
      if (!notice.empty()) m_notice = notice;
      moved = true;
    }
    if (!moved || attempt > 2) Busy(m_path);
    // The file this program had open was moved aside: the entries begun here
    // go on in the new one.
    Reconnect();
    if (m_mode == Mode::Write && !m_pending.empty()) {
      std::map<std::int64_t, Entry> carried;
      for (auto& [id, entry] : m_pending) {
        Entry copy = entry;
        const_cast<Journal*>(this)->Insert(copy);
        for (auto& [old, now] : m_renumbered)
          if (now == id) now = copy.id;
        m_renumbered[id] = copy.id;
        carried.emplace(copy.id, std::move(copy));
      }
      m_pending = std::move(carried);
    }
  }
}

std::int64_t Journal::Insert(Entry& entry) {
  if (entry.atMs == 0) entry.atMs = NowMs();
  if (entry.at.empty()) entry.at = LocalTimeText(entry.atMs);
  if (entry.user.empty()) entry.user = UserName();
  if (entry.host.empty()) entry.host = HostName();
  if (entry.uuid.empty()) entry.uuid = NewUuid();
  Use("запись не сохранена", [&](Database& db) {
    Statement s(db, InsertSql());
    BindEntry(s, entry);
    s.Step();
    entry.id = sqlite3_last_insert_rowid(db.Handle());
  });
  return entry.id;
}

std::int64_t Journal::Begin(Entry entry) {
  entry.outcome = Outcome::Pending;
  const std::int64_t id = Insert(entry);
  m_pending[id] = std::move(entry);
  return id;
}

std::int64_t Journal::Record(Entry entry) { return Insert(entry); }

void Journal::Finish(std::int64_t id, const std::vector<std::uint8_t>& sent, const std::vector<std::uint8_t>& after,
                     Outcome outcome, const std::string& step, int result, const std::string& detail) {
  Use("запись не завершена", [&](Database& db) {
    // The entry's id in the live file, if it was carried over.
    const auto renumbered = m_renumbered.find(id);
    const std::int64_t live = renumbered == m_renumbered.end() ? id : renumbered->second;
    Statement s(db,
                "UPDATE entries SET sent = ?, after = ?, outcome = ?, step = ?, result = ?, shared = 0,"
                " detail = CASE WHEN ? = '' THEN detail WHEN detail = '' THEN ? ELSE detail || '; ' || ? END"
                " WHERE id = ?");
    s.Bind(1, std::span<const std::uint8_t>(sent));
    s.Bind(2, std::span<const std::uint8_t>(after));
    s.Bind(3, std::int64_t{static_cast<int>(outcome)});
    s.Bind(4, step);
    s.Bind(5, std::int64_t{result});
    s.Bind(6, detail);
    s.Bind(7, detail);
    s.Bind(8, detail);
    s.Bind(9, live);
    s.Step();
  });
  const auto renumbered = m_renumbered.find(id);
  m_pending.erase(renumbered == m_renumbered.end() ? id : renumbered->second);
  if (renumbered != m_renumbered.end()) m_renumbered.erase(renumbered);
}

namespace {

std::string WhereOf(const Filter& f) {
  std::string sql = " WHERE 1";
  if (f.port) sql += " AND port = ?";
  if (f.address) sql += " AND address = ?";
  if (f.model) sql += " AND model = ?";
  if (f.sinceMs) sql += " AND at_ms >= ?";
  if (f.untilMs) sql += " AND at_ms < ?";
  if (f.operation) sql += " AND operation = ?";
  return sql;
}

void BindFilter(Statement& s, const Filter& f) {
  int n = 1;
  if (f.port) s.Bind(n++, *f.port);
  if (f.address) s.Bind(n++, std::int64_t{*f.address});
  if (f.model) s.Bind(n++, std::int64_t{*f.model});
  if (f.sinceMs) s.Bind(n++, *f.sinceMs);
  if (f.untilMs) s.Bind(n++, *f.untilMs);
  if (f.operation) s.Bind(n++, *f.operation);
}

}  // namespace

void Journal::ForEach(const Filter& f, const std::function<bool(const Entry&)>& visit) const {
  std::string sql = "SELECT " + ColumnList(m_version) + " FROM entries" + WhereOf(f) +
                    (f.oldestFirst ? " ORDER BY at_ms, id" : " ORDER BY at_ms DESC, id DESC");
  if (f.limit || f.offset) sql += " LIMIT " + (f.limit ? std::to_string(f.limit) : std::string("-1"));
  if (f.offset) sql += " OFFSET " + std::to_string(f.offset);
  Use("не читается", [&](Database& db) {
    Statement s(db, sql);
    BindFilter(s, f);
    while (s.Step())
      if (!visit(EntryOf(s))) break;
  });
}

std::size_t Journal::Count(const Filter& f) const {
  std::size_t count = 0;
  Use("не читается", [&](Database& db) {
    Statement s(db, "SELECT count(*) FROM entries" + WhereOf(f));
    BindFilter(s, f);
    if (s.Step()) count = static_cast<std::size_t>(s.Int(0));
  });
  return count;
}

std::size_t Journal::Append(const Journal& from) {
  std::size_t count = 0;
  Filter all;
  all.oldestFirst = true;
  Use("записи не перенесены", [&](Database& db) {
    count = 0;
    db.Execute("BEGIN IMMEDIATE");
    try {
      Statement s(db, InsertSql());
      from.ForEach(all, [&](const Entry& e) {
        // The same entries, the same identities; an entry of an earlier
        // version gets its own now. The new file sends them again: the
        // server takes each only once.
        Entry copy = e;
        if (copy.uuid.empty()) copy.uuid = NewUuid();
        copy.shared = false;
        BindEntry(s, copy);
        s.Step();
        s.Reset();
        ++count;
        return true;
      });
      db.Execute("COMMIT");
    } catch (...) {
      sqlite3_exec(db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  });
  return count;
}

std::optional<Entry> Journal::Get(std::int64_t id) const {
  std::optional<Entry> found;
  Use("не читается", [&](Database& db) {
    Statement s(db, "SELECT " + ColumnList(m_version) + " FROM entries WHERE id = ?");
    s.Bind(1, id);
    if (s.Step()) found = EntryOf(s);
  });
  return found;
}

}  // namespace pmjournal

namespace pmjournal {

std::vector<Entry> History::Query(const Filter& filter) const {
  std::vector<Entry> out;
  ForEach(filter, [&out](const Entry& e) {
    out.push_back(e);
    return true;
  });
  return out;
}

std::vector<Entry> Journal::Waiting(std::size_t limit) const {
  std::vector<Entry> out;
  if (m_version < kSharedSince) return out;  // a file of an earlier version, opened to read: nothing marked
  Use("не читается", [&](Database& db) {
    out.clear();
    Statement s(db, "SELECT " + ColumnList(m_version) + " FROM entries WHERE shared = 0 ORDER BY id LIMIT " +
                        std::to_string(limit));
    while (s.Step()) out.push_back(EntryOf(s));
  });
  return out;
}

std::size_t Journal::CountWaiting() const {
  std::size_t count = 0;
  if (m_version < kSharedSince) return Count({});
  Use("не читается", [&](Database& db) {
    Statement s(db, "SELECT count(*) FROM entries WHERE shared = 0");
    if (s.Step()) count = static_cast<std::size_t>(s.Int(0));
  });
  return count;
}

void Journal::MarkShared(const std::vector<Entry>& sent) {
  Use("не сохранено, что записи отправлены", [&](Database& db) {
    // A mark lost with the power only sends its entries once more, and the
    // server takes each once: it is not synced to the disk, so that a write
    // waiting for this transaction waits as little as can be.
    db.Execute("PRAGMA synchronous=NORMAL");
    struct Restore {
      Database& db;
      ~Restore() { sqlite3_exec(db.Handle(), "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr); }
    } restore{db};
    db.Execute("BEGIN IMMEDIATE");
    try {
      // An entry finished meanwhile has another outcome now: it stays
      // waiting, and goes again as finished.
      Statement s(db, "UPDATE entries SET shared = 1 WHERE id = ? AND uuid = ? AND outcome = ?");
      for (const Entry& e : sent) {
        s.Bind(1, e.id);
        s.Bind(2, e.uuid);
        s.Bind(3, std::int64_t{static_cast<int>(e.outcome)});
        s.Step();
        s.Reset();
      }
      db.Execute("COMMIT");
    } catch (...) {
      sqlite3_exec(db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  });
}

}  // namespace pmjournal
