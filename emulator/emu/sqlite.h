// A thin RAII layer over SQLite's C API, and the functions and collation that the printed SQL
// relies on.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "emu/types.h"

namespace finprep::emu {

// One SQLite connection with the emulator's functions registered:
//   emu_str(x, length, decimals)           STR with SQL Server's conversion of a text operand
//   emu_cast(x, 'from', 'to', assignment)  conversion between SQL Server types
//   emu_div(a, b, modulo)                  / and % (a zero divisor raises 8134)
// and the collation emu_ci (case-insensitive, trailing blanks ignored), used for every text
// comparison and text column.
class Db {
 public:
  // Opens (creating when `create`) a database file.  Throws ServerError on failure.
  Db(const std::string& path, bool create);
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  sqlite3* handle() const { return db_; }
  // Runs SQL without results.  Throws ServerError (errors raised by the emulator's functions keep
  // their SQL Server number).
  void Exec(const std::string& sql);
  // Runs one statement and returns its rows.
  std::vector<std::vector<Value>> Rows(const std::string& sql,
                                       const std::vector<Value>& params = {});
  std::int64_t Changes() const;

 private:
  sqlite3* db_ = nullptr;
};

// A prepared statement.
class Stmt {
 public:
  Stmt(Db& db, const std::string& sql);
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;

  void Bind(int index, const Value& value);
  // Steps once; true when a row is ready.
  bool Step();
  int ColumnCount() const;
  Value ColumnValue(int index) const;

 private:
  Db& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// Turns the current SQLite error into a ServerError.
[[noreturn]] void ThrowSqliteError(sqlite3* db, int code);

// Quotes an identifier for SQLite.
std::string QuoteId(const std::string& name);
// Quotes a text for SQLite.
std::string QuoteText(const std::string& text);

}  // namespace finprep::emu
