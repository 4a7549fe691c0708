#include "emu/sqlite.h"

#include <cmath>
#include <cstring>

#include "emu/messages.h"
#include "platform/text.h"

namespace finprep::emu {

namespace {

// Errors raised inside SQL functions travel through SQLite as text with this prefix:
// "\x01<number>|<severity>|<text>".
constexpr char kErrorMark = '\x01';

void ResultError(sqlite3_context* ctx, const Message& m) {
  std::string text = std::string(1, kErrorMark) + std::to_string(m.number) + "|" +
                     std::to_string(m.severity) + "|" + m.text;
  sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
}

Value ArgValue(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      return static_cast<std::int64_t>(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
      return sqlite3_value_double(v);
    case SQLITE_NULL:
      return std::monostate{};
    default: {
      const unsigned char* text = sqlite3_value_text(v);
      return std::string(reinterpret_cast<const char*>(text), sqlite3_value_bytes(v));
    }
  }
}

void ResultValue(sqlite3_context* ctx, const Value& value) {
  if (auto* i = std::get_if<std::int64_t>(&value)) {
    sqlite3_result_int64(ctx, *i);
  } else if (auto* d = std::get_if<double>(&value)) {
    sqlite3_result_double(ctx, *d);
  } else if (auto* s = std::get_if<std::string>(&value)) {
    sqlite3_result_text(ctx, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
  } else {
    sqlite3_result_null(ctx);
  }
}

void EmuStr(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  Value x = ArgValue(argv[0]);
  if (std::holds_alternative<std::monostate>(x)) return sqlite3_result_null(ctx);
  int length = argc > 1 ? sqlite3_value_int(argv[1]) : 10;
  int decimals = argc > 2 ? sqlite3_value_int(argv[2]) : 0;
  double number = 0;
  if (auto* s = std::get_if<std::string>(&x)) {
    auto parsed = ParseSqlFloat(*s);
    if (!parsed) return ResultError(ctx, msg::ConvertFailed("varchar", "float"));
    number = *parsed;
  } else if (auto* i = std::get_if<std::int64_t>(&x)) {
    number = static_cast<double>(*i);
  } else {
    number = std::get<double>(x);
  }
  if (length <= 0 || length > 8000) return sqlite3_result_null(ctx);
  std::string text = FormatStr(number, length, decimals);
  sqlite3_result_text(ctx, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void EmuCast(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto from = SqlType::Parse(reinterpret_cast<const char*>(sqlite3_value_text(argv[1])));
  auto to = SqlType::Parse(reinterpret_cast<const char*>(sqlite3_value_text(argv[2])));
  if (!from || !to) return sqlite3_result_error(ctx, "emu_cast: unknown type", -1);
  try {
    ResultValue(ctx, ConvertValue(ArgValue(argv[0]), *from, *to, sqlite3_value_int(argv[3]) != 0));
  } catch (const ServerError& e) {
    ResultError(ctx, e.messages().front());
  }
}

// a / b and a % b: a zero divisor is an error, not NULL; whole numbers divide as whole numbers.
void EmuDivide(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
    return sqlite3_result_null(ctx);
  bool modulo = sqlite3_value_int(argv[2]) != 0;
  if (sqlite3_value_numeric_type(argv[0]) == SQLITE_INTEGER &&
      sqlite3_value_numeric_type(argv[1]) == SQLITE_INTEGER) {
    sqlite3_int64 a = sqlite3_value_int64(argv[0]), b = sqlite3_value_int64(argv[1]);
    if (b == 0) return ResultError(ctx, msg::Error(8134, "Divide by zero error encountered."));
    if (a == INT64_MIN && b == -1)
      return ResultError(ctx, msg::Error(8115,
                                         "Arithmetic overflow error converting expression "
                                         "to data type bigint."));
    return sqlite3_result_int64(ctx, modulo ? a % b : a / b);
  }
  double a = sqlite3_value_double(argv[0]), b = sqlite3_value_double(argv[1]);
  if (b == 0) return ResultError(ctx, msg::Error(8134, "Divide by zero error encountered."));
  sqlite3_result_double(ctx, modulo ? std::fmod(a, b) : a / b);
}

int CompareCi(void*, int len_a, const void* a, int len_b, const void* b) {
  const unsigned char* pa = static_cast<const unsigned char*>(a);
  const unsigned char* pb = static_cast<const unsigned char*>(b);
  while (len_a > 0 && pa[len_a - 1] == ' ')
    --len_a;
  while (len_b > 0 && pb[len_b - 1] == ' ')
    --len_b;
  int n = std::min(len_a, len_b);
  for (int i = 0; i < n; ++i) {
    int ca = pa[i], cb = pb[i];
    if (ca >= 'A' && ca <= 'Z') ca += 32;
    if (cb >= 'A' && cb <= 'Z') cb += 32;
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return len_a == len_b ? 0 : (len_a < len_b ? -1 : 1);
}

}  // namespace

void ThrowSqliteError(sqlite3* db, int code) {
  const char* text = db ? sqlite3_errmsg(db) : sqlite3_errstr(code);
  std::string message = text ? text : "";
  if (!message.empty() && message[0] == kErrorMark) {
    std::size_t bar1 = message.find('|');
    std::size_t bar2 = message.find('|', bar1 + 1);
    int number = std::atoi(message.substr(1, bar1 - 1).c_str());
    int severity = std::atoi(message.substr(bar1 + 1, bar2 - bar1 - 1).c_str());
    throw ServerError(msg::Error(number, message.substr(bar2 + 1), severity));
  }
  int extended = db ? sqlite3_extended_errcode(db) : code;
  if (extended == SQLITE_CONSTRAINT_PRIMARYKEY || extended == SQLITE_CONSTRAINT_UNIQUE)
    throw ServerError(msg::Error(2627,
                                 "Violation of PRIMARY KEY constraint. Cannot insert "
                                 "duplicate key (" +
                                     message + ").",
                                 14));
  if (extended == SQLITE_CONSTRAINT_NOTNULL)
    throw ServerError(msg::Error(515,
                                 "Cannot insert the value NULL into a column that does not "
                                 "allow nulls (" +
                                     message + ").",
                                 16));
  throw ServerError(msg::Error(50000, "Storage error: " + message));
}

std::string QuoteId(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string QuoteText(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

Db::Db(const std::string& path, bool create) {
  int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
  int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw ServerError(msg::Error(5120, "Unable to open the physical file \"" + path +
                                           "\". Operating system error: " + message + "."));
  }
  sqlite3_busy_timeout(db_, 5000);
  sqlite3_create_function(db_, "emu_str", -1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, EmuStr,
                          nullptr, nullptr);
  sqlite3_create_function(db_, "emu_cast", 4, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, EmuCast,
                          nullptr, nullptr);
  sqlite3_create_function(db_, "emu_div", 3, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, EmuDivide,
                          nullptr, nullptr);
  sqlite3_create_collation(db_, "emu_ci", SQLITE_UTF8, nullptr, CompareCi);
  // A file that is not a database shows here, not at the first real statement.
  rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_schema", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db_);
    sqlite3_close(db_);
    db_ = nullptr;
    throw ServerError(msg::Error(5172, "The header for file '" + path +
                                           "' is not a valid database file header (" + message +
                                           ")."));
  }
}

Db::~Db() { sqlite3_close_v2(db_); }

void Db::Exec(const std::string& sql) {
  char* error = nullptr;
  int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error);
  sqlite3_free(error);
  if (rc != SQLITE_OK) ThrowSqliteError(db_, rc);
}

std::vector<std::vector<Value>> Db::Rows(const std::string& sql, const std::vector<Value>& params) {
  Stmt stmt(*this, sql);
  for (std::size_t i = 0; i < params.size(); ++i)
    stmt.Bind(static_cast<int>(i + 1), params[i]);
  std::vector<std::vector<Value>> rows;
  while (stmt.Step()) {
    std::vector<Value> row;
    for (int c = 0; c < stmt.ColumnCount(); ++c)
      row.push_back(stmt.ColumnValue(c));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::int64_t Db::Changes() const { return sqlite3_changes64(db_); }

Stmt::Stmt(Db& db, const std::string& sql) : db_(db) {
  int rc =
      sqlite3_prepare_v2(db.handle(), sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) ThrowSqliteError(db.handle(), rc);
}

Stmt::~Stmt() { sqlite3_finalize(stmt_); }

void Stmt::Bind(int index, const Value& value) {
  if (auto* i = std::get_if<std::int64_t>(&value)) {
    sqlite3_bind_int64(stmt_, index, *i);
  } else if (auto* d = std::get_if<double>(&value)) {
    sqlite3_bind_double(stmt_, index, *d);
  } else if (auto* s = std::get_if<std::string>(&value)) {
    sqlite3_bind_text(stmt_, index, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
  } else {
    sqlite3_bind_null(stmt_, index);
  }
}

bool Stmt::Step() {
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  ThrowSqliteError(db_.handle(), rc);
}

int Stmt::ColumnCount() const { return sqlite3_column_count(stmt_); }

Value Stmt::ColumnValue(int index) const {
  switch (sqlite3_column_type(stmt_, index)) {
    case SQLITE_INTEGER:
      return static_cast<std::int64_t>(sqlite3_column_int64(stmt_, index));
    case SQLITE_FLOAT:
      return sqlite3_column_double(stmt_, index);
    case SQLITE_NULL:
      return std::monostate{};
    default: {
      const unsigned char* text = sqlite3_column_text(stmt_, index);
      return std::string(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt_, index));
    }
  }
}

}  // namespace finprep::emu
