// Database components: one connection and the command and query components bound to it.
//
// The components are the same on every platform; what carries the statements to a server is a
// `DatabaseDriver` chosen by the platform (ODBC on Windows and against real servers, the
// in-process emulator on Linux and in tests).  Connection strings keep the OLE DB form the host
// knows ("Provider=SQLOLEDB.1;Data Source=...;Initial Catalog=..."); a driver translates them.
//
// Errors: everything the server or the driver reports is a ProviderError carrying the provider's
// text; misuse of a component (closed dataset, missing field) is a DatabaseError.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace finprep {

// A value as text, or null.
using FieldValue = std::optional<std::string>;

// The first result set of a statement, fetched whole.
struct ResultSet {
  std::vector<std::string> columns;
  std::vector<std::vector<FieldValue>> rows;
};

// One open connection to a server.
class Session {
 public:
  virtual ~Session() = default;
  // Runs a statement and fetches its first result set whole.  Returns nullopt when the statement
  // produced no result set.  timeout_seconds 0 means no limit.
  virtual std::optional<ResultSet> Query(const std::string& sql, int timeout_seconds) = 0;
  // Runs a statement to its end, reading and discarding every result and message it produces.
  virtual void Execute(const std::string& sql, int timeout_seconds) = 0;
};

class DatabaseDriver {
 public:
  virtual ~DatabaseDriver() = default;
  // Opens a connection with an OLE DB connection string.  Throws ProviderError on failure.
  virtual std::unique_ptr<Session> Connect(const std::string& connection_string,
                                           int timeout_seconds) = 0;
};

// The connection component.  Opening an open connection does nothing; the command and query
// components open a closed connection themselves before they run a statement.
class Connection {
 public:
  static constexpr int kConnectTimeoutSeconds = 15;

  explicit Connection(DatabaseDriver& driver) : driver_(driver) {}

  void SetConnectionString(const std::string& connection_string);
  const std::string& ConnectionString() const { return connection_string_; }

  void Open();
  void Close();
  bool Connected() const { return session_ != nullptr; }

  // The open session; opens the connection first when it is closed.
  Session& EnsureOpen();

 private:
  DatabaseDriver& driver_;
  std::string connection_string_;
  std::unique_ptr<Session> session_;
};

// Command component: statements without a result set, no time limit by default.
class Command {
 public:
  explicit Command(Connection& connection) : connection_(connection) {}
  void SetCommandText(const std::string& text) { text_ = text; }
  const std::string& CommandText() const { return text_; }
  int command_timeout_seconds = 0;
  // Runs the command text; a result set that comes back is discarded.
  void Execute();

 private:
  Connection& connection_;
  std::string text_;
};

// Query component: a statement with a result set, fetched whole when the query opens (so the row
// count is known at once), read row by row through a cursor.  30-second time-out by default.
class Query {
 public:
  Query(Connection& connection, std::string name) : connection_(connection), name_(name) {}

  int command_timeout_seconds = 30;

  void SetSQL(const std::string& text) { sql_ = text; }
  const std::string& SQL() const { return sql_; }

  // Sends the statement and positions on the first row.  Opening an open query does nothing.
  void Open();
  void Close();
  bool Active() const { return result_.has_value(); }

  // Row count; DatabaseError on a closed query.
  int RecordCount() const;
  // True for a query without rows, and for a closed query.
  bool IsEmpty() const;
  void First();
  // Moves to the next row; past the last row it stays on the last row and sets Eof.
  void Next();
  bool Eof() const;

  // The current row's field, found by name without regard to case; DatabaseError when the query
  // is closed or has no such field.
  FieldValue Field(const std::string& name) const;
  // The field as text; null gives "".
  std::string FieldAsString(const std::string& name) const;

 private:
  void CheckActive() const;

  Connection& connection_;
  std::string name_;
  std::string sql_;
  std::optional<ResultSet> result_;
  std::size_t row_ = 0;
  bool eof_ = true;
};

}  // namespace finprep
