#pragma once
// Runs SQL on a database file with a plain SQLite connection, as another
// program would: hand-made, foreign and broken journals for the tests.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

namespace testsupport {

inline void RunSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

}  // namespace testsupport
