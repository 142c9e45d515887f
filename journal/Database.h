#pragma once
// The SQLite C library behind two small owners: an open database and a
// prepared statement. Every failure throws DatabaseError with SQLite's
// result code and text; nothing here knows the journal's tables.

#include <sqlite3.h>

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pmjournal {

class DatabaseError : public std::runtime_error {
 public:
  DatabaseError(int code, int systemErrno, const std::string& what)
      : std::runtime_error(what), m_code(code), m_errno(systemErrno) {}
  int Code() const { return m_code; }          // SQLite's extended result code
  int SystemErrno() const { return m_errno; }  // the system's errno behind it, 0 if none

 private:
  int m_code;
  int m_errno;
};

class Database {
 public:
  // The longest string or blob a statement may make or read. Everything the
  // journal holds is far shorter; a file's own schema (a CHECK constraint,
  // an index on an expression) cannot make a statement allocate more.
  static constexpr int kValueMax = 1 << 20;

  enum class Mode {
    Create,     // read and write, the file made when missing
    ReadWrite,  // read and write an existing file
    ReadOnly,   // read, with the usual locks
    Immutable,  // read a file nobody writes: no locks, no files made beside it
  };
  Database(const std::string& path, Mode mode);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void Execute(const std::string& sql);
  sqlite3* Handle() const { return m_db; }
  [[noreturn]] void Fail(int code) const;

 private:
  sqlite3* m_db = nullptr;
};

class Statement {
 public:
  Statement(Database& db, const std::string& sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Parameters count from 1.
  void Bind(int at, std::int64_t value);
  void Bind(int at, double value);
  void Bind(int at, const std::string& value);
  void Bind(int at, std::span<const std::uint8_t> value);
  void BindNull(int at);
  // True while a row is available; false when done.
  bool Step();
  // Ready to run again with new parameters.
  void Reset();

  std::int64_t Int(int column) const;
  double Real(int column) const;
  std::string Text(int column) const;
  std::vector<std::uint8_t> Blob(int column) const;
  bool IsNull(int column) const;

 private:
  Database& m_db;
  sqlite3_stmt* m_stmt = nullptr;
};

}  // namespace pmjournal
