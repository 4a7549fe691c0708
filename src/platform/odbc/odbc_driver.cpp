#include "platform/odbc/odbc_driver.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/text.h"

namespace finprep::odbc {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the wide ODBC API must be UTF-16");

using WideString = std::basic_string<SQLWCHAR>;

// UTF-8 to UTF-16; a malformed byte becomes U+FFFD.
WideString Widen(std::string_view text) {
  const std::u16string wide = Utf8ToUtf16(text);
  return WideString(wide.begin(), wide.end());
}

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Narrow(const SQLWCHAR* text, std::size_t length) {
  return Utf16ToUtf8(std::u16string(text, text + length));
}

constexpr const char* kExecDirect = "SQLExecDirectW";

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// The diagnostic texts of the last call on a handle, one per line.  Warnings (SQLSTATE class 01)
// are left out when there are errors besides them.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::vector<std::string> errors;
  std::vector<std::string> warnings;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    std::vector<SQLWCHAR> text(512);
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                                  static_cast<SQLSMALLINT>(text.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(text.size())) {
      text.resize(static_cast<std::size_t>(length) + 1);
      rc = SQLGetDiagRecW(type, handle, record, state, &native, text.data(),
                          static_cast<SQLSMALLINT>(text.size()), &length);
    }
    if (!Succeeded(rc)) break;
    const std::size_t shown = std::min<std::size_t>(length < 0 ? 0 : length, text.size() - 1);
    std::string message = StripComponentTags(Narrow(text.data(), shown));
    const bool warning = state[0] == '0' && state[1] == '1';
    (warning ? warnings : errors).push_back(std::move(message));
  }
  const std::vector<std::string>& chosen = errors.empty() ? warnings : errors;
  std::string joined;
  for (const std::string& message : chosen) {
    if (!joined.empty()) joined += '\n';
    joined += message;
  }
  return joined;
}

[[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE handle, const char* call) {
  std::string message = handle != SQL_NULL_HANDLE ? Diagnostics(type, handle) : std::string();
  if (message.empty()) message = std::string(call) + " failed";
  throw ProviderError(message);
}

void Check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE handle, const char* call) {
  if (!Succeeded(rc)) Fail(type, handle, call);
}

class Statement {
 public:
  explicit Statement(SQLHDBC dbc) {
    odbc::Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &handle_), SQL_HANDLE_DBC, dbc,
                "SQLAllocHandle");
  }
  ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, handle_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  SQLHSTMT get() const { return handle_; }

  void Check(SQLRETURN rc, const char* call) const {
    odbc::Check(rc, SQL_HANDLE_STMT, handle_, call);
  }

  void SetTimeout(int seconds) const {
    const SQLULEN value = seconds > 0 ? static_cast<SQLULEN>(seconds) : 0;
    Check(SQLSetStmtAttrW(handle_, SQL_ATTR_QUERY_TIMEOUT,
                          reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(value)), 0),
          "SQLSetStmtAttrW");
  }

 private:
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

std::string ColumnName(const Statement& statement, SQLUSMALLINT column) {
  std::vector<SQLWCHAR> name(128);
  for (;;) {
    SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    statement.Check(
        SQLDescribeColW(statement.get(), column, name.data(), static_cast<SQLSMALLINT>(name.size()),
                        &length, &type, &size, &digits, &nullable),
        "SQLDescribeColW");
    if (length < static_cast<SQLSMALLINT>(name.size())) {
      return Narrow(name.data(), static_cast<std::size_t>(length < 0 ? 0 : length));
    }
    name.resize(static_cast<std::size_t>(length) + 1);
  }
}

// The current row's column as text, read in pieces of any length; nullopt for NULL.
FieldValue ColumnText(const Statement& statement, SQLUSMALLINT column) {
  constexpr std::size_t kChars = 1024;
  SQLWCHAR buffer[kChars];
  WideString text;
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc =
        SQLGetData(statement.get(), column, SQL_C_WCHAR, buffer, sizeof(buffer), &indicator);
    if (rc == SQL_NO_DATA) break;
    statement.Check(rc, "SQLGetData");
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    const bool truncated =
        rc == SQL_SUCCESS_WITH_INFO &&
        (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof(buffer)));
    if (truncated) {
      text.append(buffer, kChars - 1);
      continue;
    }
    const std::size_t chars = indicator < 0 ? 0 : static_cast<std::size_t>(indicator) / 2;
    text.append(buffer, std::min(chars, kChars - 1));
    break;
  }
  return Narrow(text.data(), text.size());
}

ResultSet FetchAll(const Statement& statement, SQLSMALLINT column_count) {
  ResultSet result;
  for (SQLSMALLINT c = 1; c <= column_count; ++c)
    result.columns.push_back(ColumnName(statement, static_cast<SQLUSMALLINT>(c)));
  for (;;) {
    const SQLRETURN rc = SQLFetch(statement.get());
    if (rc == SQL_NO_DATA) break;
    statement.Check(rc, "SQLFetch");
    std::vector<FieldValue> row;
    row.reserve(static_cast<std::size_t>(column_count));
    for (SQLSMALLINT c = 1; c <= column_count; ++c)
      row.push_back(ColumnText(statement, static_cast<SQLUSMALLINT>(c)));
    result.rows.push_back(std::move(row));
  }
  return result;
}

class OdbcSession : public Session {
 public:
  OdbcSession(const OdbcConnectionString& connection, int timeout_seconds) {
    try {
      Open(connection, timeout_seconds);
    } catch (...) {
      Release();
      throw;
    }
  }
  ~OdbcSession() override { Release(); }

  std::optional<ResultSet> Query(const std::string& sql, int timeout_seconds) override {
    Statement statement(dbc_);
    statement.SetTimeout(timeout_seconds);
    WideString text = Widen(sql);
    SQLRETURN rc = SQLExecDirectW(statement.get(), text.data(), SQL_NTS);
    // The first result set that has columns; results before it (row counts) are skipped.
    for (;;) {
      if (rc != SQL_NO_DATA) {
        statement.Check(rc, "SQLExecDirectW");
        SQLSMALLINT columns = 0;
        statement.Check(SQLNumResultCols(statement.get(), &columns), "SQLNumResultCols");
        if (columns > 0) return FetchAll(statement, columns);
      }
      rc = SQLMoreResults(statement.get());
      if (rc == SQL_NO_DATA) return std::nullopt;
    }
  }

  void Execute(const std::string& sql, int timeout_seconds) override {
    Statement statement(dbc_);
    statement.SetTimeout(timeout_seconds);
    WideString text = Widen(sql);
    // Read every result and message to the end: a statement such as RESTORE only completes
    // when its whole output has been consumed.  The first error is kept; after two errors in a
    // row the output is taken to be over.
    std::string first_error;
    bool failed = false;
    int errors_in_row = 0;
    SQLRETURN rc = SQLExecDirectW(statement.get(), text.data(), SQL_NTS);
    const char* call = kExecDirect;
    for (;;) {
      // SQL_NO_DATA from the statement itself only means that it touched no rows.
      if (rc == SQL_NO_DATA && call != kExecDirect) break;
      if (rc == SQL_ERROR) {
        if (!failed) first_error = Diagnostics(SQL_HANDLE_STMT, statement.get());
        failed = true;
        if (++errors_in_row >= 2) break;
      } else if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NO_DATA) {
        failed = true;
        break;
      } else {
        errors_in_row = 0;
      }
      rc = SQLMoreResults(statement.get());
      call = "SQLMoreResults";
    }
    if (failed && first_error.empty()) first_error = std::string(call) + " failed";
    if (failed) throw ProviderError(first_error);
  }

 private:
  void Open(const OdbcConnectionString& connection, int timeout_seconds) {
    Check(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_), SQL_HANDLE_ENV, SQL_NULL_HANDLE,
          "SQLAllocHandle");
    Check(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION,
                        reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(SQL_OV_ODBC3)), 0),
          SQL_HANDLE_ENV, env_, "SQLSetEnvAttr");
    Check(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_), SQL_HANDLE_ENV, env_, "SQLAllocHandle");
    const int login_timeout = connection.login_timeout_seconds.value_or(timeout_seconds);
    Check(SQLSetConnectAttrW(dbc_, SQL_ATTR_LOGIN_TIMEOUT,
                             reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(
                                 login_timeout > 0 ? login_timeout : 0)),
                             0),
          SQL_HANDLE_DBC, dbc_, "SQLSetConnectAttrW");
    WideString text = Widen(connection.text);
    SQLWCHAR completed[1024];
    SQLSMALLINT completed_length = 0;
    Check(SQLDriverConnectW(dbc_, nullptr, text.data(), SQL_NTS, completed,
                            static_cast<SQLSMALLINT>(sizeof(completed) / sizeof(completed[0])),
                            &completed_length, SQL_DRIVER_NOPROMPT),
          SQL_HANDLE_DBC, dbc_, "SQLDriverConnectW");
    connected_ = true;
  }

  void Release() {
    if (connected_) SQLDisconnect(dbc_);
    if (dbc_ != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    if (env_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env_);
    connected_ = false;
    dbc_ = SQL_NULL_HDBC;
    env_ = SQL_NULL_HENV;
  }

  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool connected_ = false;
};

// ---- Connection string translation ----

enum class Target {
  Drop,
  Server,
  Database,
  Uid,
  Pwd,
  Trusted,
  App,
  Wsid,
  Network,
  Driver,
  Dsn,
  LoginTimeout
};

struct KeyMapping {
  const char* ole_db_key;
  Target target;
};

constexpr KeyMapping kKeys[] = {
    {"Provider", Target::Drop},
    {"Persist Security Info", Target::Drop},
    {"Data Source", Target::Server},
    {"Server", Target::Server},
    {"Address", Target::Server},
    {"Addr", Target::Server},
    {"Network Address", Target::Server},
    {"Initial Catalog", Target::Database},
    {"Database", Target::Database},
    {"User ID", Target::Uid},
    {"UID", Target::Uid},
    {"Password", Target::Pwd},
    {"PWD", Target::Pwd},
    {"Integrated Security", Target::Trusted},
    {"Trusted_Connection", Target::Trusted},
    {"Application Name", Target::App},
    {"APP", Target::App},
    {"Workstation ID", Target::Wsid},
    {"WSID", Target::Wsid},
    {"Network Library", Target::Network},
    {"Network", Target::Network},
    {"Driver", Target::Driver},
    {"DSN", Target::Dsn},
    {"Connect Timeout", Target::LoginTimeout},
    {"Connection Timeout", Target::LoginTimeout},
};

const char* OdbcKey(Target target) {
  switch (target) {
    case Target::Server:
      return "Server";
    case Target::Database:
      return "Database";
    case Target::Uid:
      return "UID";
    case Target::Pwd:
      return "PWD";
    case Target::Trusted:
      return "Trusted_Connection";
    case Target::App:
      return "APP";
    case Target::Wsid:
      return "WSID";
    case Target::Network:
      return "Network";
    default:
      return "";
  }
}

[[noreturn]] void Malformed() { throw ProviderError("The connection string is malformed."); }

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

struct Pair {
  std::string key;
  std::string value;
};

// Splits "key=value;..." with OLE DB quoting: a value may be enclosed in single or double quotes,
// with the quote doubled inside.
std::vector<Pair> ParseOleDb(std::string_view text) {
  std::vector<Pair> pairs;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t equals = text.find('=', i);
    const std::size_t semicolon = text.find(';', i);
    if (equals == std::string_view::npos || semicolon < equals) {
      // A segment without '=' may only be blank.
      const std::size_t end = semicolon == std::string_view::npos ? text.size() : semicolon;
      if (!TrimSpaces(text.substr(i, end - i)).empty()) Malformed();
      i = end + 1;
      continue;
    }
    Pair pair;
    pair.key = std::string(TrimSpaces(text.substr(i, equals - i)));
    if (pair.key.empty()) Malformed();
    i = equals + 1;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
      ++i;
    if (i < text.size() && (text[i] == '\'' || text[i] == '"')) {
      const char quote = text[i++];
      for (;;) {
        if (i >= text.size()) Malformed();
        if (text[i] == quote) {
          if (i + 1 < text.size() && text[i + 1] == quote) {
            pair.value += quote;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        pair.value += text[i++];
      }
      while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
      if (i < text.size() && text[i] != ';') Malformed();
    } else {
      const std::size_t end = text.find(';', i);
      const std::size_t stop = end == std::string_view::npos ? text.size() : end;
      pair.value = std::string(TrimSpaces(text.substr(i, stop - i)));
      i = stop;
    }
    ++i;  // past ';'
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

std::string Braced(const std::string& value) {
  std::string out = "{";
  for (char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  return out + "}";
}

// An ODBC attribute value, enclosed in braces when it could otherwise be misread.
std::string OdbcValue(const std::string& value) {
  const bool plain =
      value.find_first_of(";{}") == std::string::npos && TrimSpaces(value).size() == value.size();
  return plain ? value : Braced(value);
}

std::optional<bool> ParseTrusted(const std::string& value) {
  for (const char* yes : {"SSPI", "true", "yes"}) {
    if (EqualsIgnoreCase(value, yes)) return true;
  }
  for (const char* no : {"false", "no"}) {
    if (EqualsIgnoreCase(value, no)) return false;
  }
  return std::nullopt;
}

}  // namespace

std::string StripComponentTags(const std::string& message) {
  std::size_t i = 0;
  while (i < message.size() && message[i] == '[') {
    const std::size_t close = message.find(']', i);
    if (close == std::string::npos) break;
    i = close + 1;
  }
  return Trim(std::string_view(message).substr(i));
}

OdbcConnectionString TranslateConnectionString(const std::string& ole_db) {
  struct Entry {
    Target target;
    std::string value;
  };
  std::vector<Entry> entries;  // in the order of first appearance; a repeated key's last value
  std::string driver = "SQL Server";
  std::optional<std::string> dsn;
  OdbcConnectionString result;

  const std::vector<Pair> pairs = ParseOleDb(ole_db);
  if (pairs.empty()) throw ProviderError("The connection string is empty.");
  for (const Pair& pair : pairs) {
    const KeyMapping* mapping = nullptr;
    for (const KeyMapping& m : kKeys) {
      if (EqualsIgnoreCase(pair.key, m.ole_db_key)) mapping = &m;
    }
    if (!mapping) {
      throw ProviderError("Connection string keyword not supported: '" + pair.key + "'.");
    }
    switch (mapping->target) {
      case Target::Drop:
        continue;
      case Target::Driver: {
        std::string_view name = pair.value;
        if (name.size() >= 2 && name.front() == '{' && name.back() == '}') {
          name = name.substr(1, name.size() - 2);
        }
        driver = std::string(name);
        continue;
      }
      case Target::Dsn:
        dsn = pair.value;
        continue;
      case Target::LoginTimeout: {
        const std::optional<std::int32_t> seconds = ParseInt32(Trim(pair.value));
        if (!seconds || *seconds < 0) {
          throw ProviderError("Invalid value for '" + pair.key + "': '" + pair.value + "'.");
        }
        result.login_timeout_seconds = *seconds;
        continue;
      }
      case Target::Trusted: {
        const std::optional<bool> trusted = ParseTrusted(pair.value);
        if (!trusted) {
          throw ProviderError("Invalid value for '" + pair.key + "': '" + pair.value + "'.");
        }
        Entry entry{Target::Trusted, *trusted ? "Yes" : ""};
        bool replaced = false;
        for (Entry& e : entries) {
          if (e.target == Target::Trusted) e = entry, replaced = true;
        }
        if (!replaced) entries.push_back(entry);
        continue;
      }
      default:
        break;
    }
    bool replaced = false;
    for (Entry& e : entries) {
      if (e.target == mapping->target) e.value = pair.value, replaced = true;
    }
    if (!replaced) entries.push_back({mapping->target, pair.value});
  }

  result.text = dsn ? "DSN=" + OdbcValue(*dsn) : "DRIVER=" + Braced(driver);
  for (const Entry& e : entries) {
    if (e.target == Target::Trusted && e.value.empty()) continue;  // Integrated Security=false
    result.text += ';';
    result.text += OdbcKey(e.target);
    result.text += '=';
    result.text += OdbcValue(e.value);
  }
  return result;
}

std::unique_ptr<Session> OdbcDriver::Connect(const std::string& connection_string,
                                             int timeout_seconds) {
  return std::make_unique<OdbcSession>(TranslateConnectionString(connection_string),
                                       timeout_seconds);
}

}  // namespace finprep::odbc
