#include "Database.h"

namespace pmjournal {

namespace {

// "file:" with the characters a URI gives a meaning escaped.
std::string Uri(const std::string& path, const char* query) {
  std::string uri = "file:";
  for (const char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      static const char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[static_cast<unsigned char>(c) >> 4];
      uri += kHex[static_cast<unsigned char>(c) & 0xF];
    } else {
      uri += c;
    }
  }
  return uri + query;
}

}  // namespace

Database::Database(const std::string& path, Mode mode) {
  int flags = SQLITE_OPEN_NOMUTEX;
  std::string name = path;
  switch (mode) {
    case Mode::Create: flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE; break;
    case Mode::ReadWrite: flags |= SQLITE_OPEN_READWRITE; break;
    case Mode::ReadOnly: flags |= SQLITE_OPEN_READONLY; break;
    case Mode::Immutable:
      flags |= SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
      name = Uri(path, "?immutable=1");
      break;
  }
  const int rc = sqlite3_open_v2(name.c_str(), &m_db, flags, nullptr);
  if (rc != SQLITE_OK) {
    const int code = m_db ? sqlite3_extended_errcode(m_db) : rc;
    const int sys = m_db ? sqlite3_system_errno(m_db) : 0;
    const std::string text = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
    sqlite3_close_v2(m_db);
    m_db = nullptr;
    throw DatabaseError(code, sys, text);
  }
  sqlite3_extended_result_codes(m_db, 1);
  sqlite3_limit(m_db, SQLITE_LIMIT_LENGTH, kValueMax);
}

Database::~Database() { sqlite3_close_v2(m_db); }

void Database::Fail(int code) const {
  throw DatabaseError(sqlite3_extended_errcode(m_db) ? sqlite3_extended_errcode(m_db) : code,
                      sqlite3_system_errno(m_db), sqlite3_errmsg(m_db));
}

void Database::Execute(const std::string& sql) {
  const int rc = sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail(rc);
}

Statement::Statement(Database& db, const std::string& sql) : m_db(db) {
  const int rc = sqlite3_prepare_v2(db.Handle(), sql.c_str(), static_cast<int>(sql.size()), &m_stmt, nullptr);
  if (rc != SQLITE_OK) db.Fail(rc);
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

void Statement::Bind(int at, std::int64_t value) {
  if (const int rc = sqlite3_bind_int64(m_stmt, at, value); rc != SQLITE_OK) m_db.Fail(rc);
}

void Statement::Bind(int at, double value) {
  if (const int rc = sqlite3_bind_double(m_stmt, at, value); rc != SQLITE_OK) m_db.Fail(rc);
}

void Statement::Bind(int at, const std::string& value) {
  if (const int rc = sqlite3_bind_text(m_stmt, at, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
      rc != SQLITE_OK)
    m_db.Fail(rc);
}

void Statement::Bind(int at, std::span<const std::uint8_t> value) {
  // An empty span binds a zero-length blob, not NULL.
  static const std::uint8_t none = 0;
  if (const int rc = sqlite3_bind_blob(m_stmt, at, value.empty() ? &none : value.data(),
                                       static_cast<int>(value.size()), SQLITE_TRANSIENT);
      rc != SQLITE_OK)
    m_db.Fail(rc);
}

void Statement::BindNull(int at) {
  if (const int rc = sqlite3_bind_null(m_stmt, at); rc != SQLITE_OK) m_db.Fail(rc);
}

bool Statement::Step() {
  const int rc = sqlite3_step(m_stmt);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  m_db.Fail(rc);
}

void Statement::Reset() {
  sqlite3_reset(m_stmt);
  sqlite3_clear_bindings(m_stmt);
}

std::int64_t Statement::Int(int column) const { return sqlite3_column_int64(m_stmt, column); }

double Statement::Real(int column) const { return sqlite3_column_double(m_stmt, column); }

std::string Statement::Text(int column) const {
  const auto* text = sqlite3_column_text(m_stmt, column);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(m_stmt, column)))
              : std::string();
}

std::vector<std::uint8_t> Statement::Blob(int column) const {
  const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(m_stmt, column));
  const int size = sqlite3_column_bytes(m_stmt, column);
  return data ? std::vector<std::uint8_t>(data, data + size) : std::vector<std::uint8_t>();
}

bool Statement::IsNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

}  // namespace pmjournal
